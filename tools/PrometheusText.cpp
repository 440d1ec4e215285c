// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "PrometheusText.h"

#include <algorithm>

namespace {

const char* const allowedHeader =
    "# HELP orvel_update_allowed Whether the pending apt update may be installed (1) or not (0).\n"
    "# TYPE orvel_update_allowed gauge\n";
const char* const checkSuccessHeader =
    "# HELP orvel_update_check_success Whether apt answered every query of the checks (1) or not (0, and the "
    "update is refused).\n"
    "# TYPE orvel_update_check_success gauge\n";

} // namespace

std::string PrometheusText::labelValue(const std::string& text)
{
    std::string value = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            value += '\\';
        value += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return value + '"';
}

std::string PrometheusText::verdict(bool allowed, const std::string& installed, const std::vector<Refused>& refusals)
{
    const bool answered = std::none_of(refusals.cbegin(), refusals.cend(), [](const Refused& refusal) {
        return refusal.rule == "versions-unknown" || !refusal.sourcesKnown;
    });
    std::string text = allowedHeader + std::string("orvel_update_allowed ") + (allowed ? "1" : "0") + "\n"
        + checkSuccessHeader + "orvel_update_check_success " + (answered ? "1" : "0") + "\n"
        + "# HELP orvel_update_refusals A version that a check refuses, with the rule it breaks.\n"
          "# TYPE orvel_update_refusals gauge\n";
    for (const Refused& refusal : refusals)
        text += "orvel_update_refusals{check=" + labelValue(refusal.check) + ",rule=" + labelValue(refusal.rule)
            + ",version=" + labelValue(refusal.version) + "} 1\n";
    return text
        + "# HELP orvel_update_installed_info The installed Orvel release.\n"
          "# TYPE orvel_update_installed_info gauge\n"
          "orvel_update_installed_info{version="
        + labelValue(installed) + "} 1\n";
}

std::string PrometheusText::unchecked()
{
    return allowedHeader + std::string("orvel_update_allowed 0\n") + checkSuccessHeader
        + "orvel_update_check_success 0\n";
}
