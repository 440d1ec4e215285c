// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <string>
#include <vector>

/// What the guard tells the admin when it stops a run: on standard error in
/// the admin's language, in the system log in English. Standard C++ only:
/// the launcher refuses with it before Qt is loaded.
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

} // namespace GuardMessages
