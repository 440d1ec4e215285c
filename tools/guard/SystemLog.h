// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <string>

/// The guard's lines in the system log: syslog(3), ident
/// orvel-update-check, facility user. Standard C++ and the C library only.
namespace SystemLog {

/**
 * Sends @p line with @p priority (LOG_WARNING, LOG_NOTICE). Gives up after
 * a second when the log does not take it; without a log daemon it returns
 * at once.
 */
void send(int priority, const std::string& line);

} // namespace SystemLog
