// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <string>
#include <vector>

/// What the guard tells the admin when it stops a run or lets one through
/// despite it: on standard error in the admin's language, in the system log
/// in English; the guard's only voice. Standard C++ only: the launcher
/// refuses with it before Qt is loaded.
namespace GuardMessages {

/**
 * Writes the guard's refusal, for @p why, to standard error: first
 * @p remedy (what keeps the gate; by default, to put right what @p why
 * names), then the way to let one run through. To the system log at
 * warning level: @p logLines, one entry per refusal, or else
 * "update refused" + @p why.
 */
void refuse(const std::string& why, const std::vector<std::string>& logLines = {},
            const std::string& remedy = std::string());
/// Refuses a run because the guard's own settings are wrong (@p why):
/// to be corrected, not let through.
void refuseConfiguration(const std::string& why);
/// Lets a run through unchecked because @p reason (escaped) switches the
/// guard off: a warning on standard error, a notice in the system log.
void passUnchecked(const std::string& reason);
/**
 * Lets a run go on that takes nothing from the refused @p sources
 * (escaped, joined by ", "): a warning that names them, then @p details
 * (the refusals, each line after a line end) on standard error; the
 * English warning in the system log, which is returned for the guard's own
 * log.
 */
std::string passBesideRefusedSources(const std::string& sources, const std::string& details);

} // namespace GuardMessages
