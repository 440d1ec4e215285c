// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <sys/types.h>

/**
 * Ends what a child process leaves running: SIGTERM first, so that programs
 * such as sort remove their temporary files, then SIGKILL for whatever is
 * left after a grace, and every process that is ours to reap is reaped.
 *
 * Safe in a signal handler: nothing here allocates or takes a lock, and
 * only async-signal-safe calls are made.
 */
class ProcessGroup
{
public:
    /// How long the targets have between SIGTERM and SIGKILL, and how long
    /// SIGKILL then has to take effect.
    static constexpr int TerminationGraceMs = 1000;
    static constexpr int KillGraceMs = 5000;

    /**
     * Ends @p targets, kill(2) targets: -G for every process of the group G,
     * P for the process P alone. Returns once none of them is left (dead
     * processes of other parents aside), or when even SIGKILL did not end
     * them in time. While it runs this process is a child subreaper, so that
     * members whose parent ends first are handed to us and reaped too.
     *
     * Returns true when the process @p watched was among those reaped here.
     */
    static bool end(const pid_t* targets, int count, pid_t watched = 0);

    /**
     * Keeps @p group as one this process started, for endStarted(), until
     * forget(). False when too many are kept already: the caller must not
     * run it then. Safe against a signal handler on any thread.
     */
    static bool track(pid_t group);
    static void forget(pid_t group);

    /**
     * Ends every group kept by track(), and only those: whatever else runs
     * in this process's group, or was inherited across exec, is not ours
     * to end. Needs no /proc.
     */
    static void endStarted();

    /// How many groups can be kept at once.
    static constexpr int TrackedCapacity = 256;
};
