// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QList>

#include <sys/types.h>

/// What /proc says about processes, for tests that check nothing is left behind.
namespace ProcessTable {
/// Every process whose process group is @p group, zombies included unless
/// @p includeZombies is false.
QList<pid_t> membersOfGroup(pid_t group, bool includeZombies = true);
/// Whether a process with this id exists at all, zombie or not.
bool exists(pid_t pid);
} // namespace ProcessTable
