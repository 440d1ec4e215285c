// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <string>
#include <vector>

/**
 * The verdict as metrics in Prometheus' text format, for the node
 * exporter's textfile collector: the one writer of that text, for
 * --prometheus, --metrics-file and the launcher's fallback alike. No time
 * stamps (the collector adds none either), a HELP and a TYPE line for each
 * metric. Standard C++ only: the launcher writes the fallback before Qt is
 * loaded.
 */
namespace PrometheusText {

/// One refused version, its texts in UTF-8 as people read them (escaped).
struct Refused {
    std::string check;
    std::string rule;
    std::string version;
    /// False when apt could not list the sources that offer it.
    bool sourcesKnown = true;
};

/**
 * The metrics of a verdict: orvel_update_allowed, orvel_update_check_success
 * (0 when any check could not be made: versions unknown, or sources that
 * apt could not list), one orvel_update_refusals series per refusal and the
 * installed release.
 */
std::string verdict(bool allowed, const std::string& installed, const std::vector<Refused>& refusals);

/// The metrics that say that no verdict was reached: not allowed, not
/// checked.
std::string unchecked();

/// @p text as a label value: in double quotes, with backslash, double
/// quote and line feed escaped.
std::string labelValue(const std::string& text);

} // namespace PrometheusText
