// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include "Descriptor.h"

#include <cstddef>

#include <sys/types.h>

/**
 * One started program, run by a supervisor process.
 *
 * Our child is the supervisor: it leads a new process group, starts the
 * program in it, waits for it and keeps its status. It has no exit signal
 * and never execs, so neither the kernel (SIGCHLD ignored) nor a caller's
 * waitpid(-1), reaping SIGCHLD handler or reaping thread ever takes it; we
 * reap it with waitpid(__WALL) and see its end through a pipe that only it
 * holds. This needs nothing of the kernel beyond Linux 4.15, nothing of the
 * caller's signal settings, and no pidfd, which sandboxes may refuse.
 *
 * Should the caller die while the program runs, the supervisor ends the
 * whole group (SIGTERM, then SIGKILL a second later): nothing of a run
 * outlives the process that asked for it.
 *
 * The supervisor starts with CLONE_VM, as posix_spawn does, so that no copy
 * of a large caller's memory map (a Python interpreter) is made.
 *
 * Whichever way the run ends, the destructor ends the group and reaps it,
 * so that nothing the program started outlives the run, not even a
 * background job, and not when an exception leaves it. Memory that a
 * started process may still run on is never unmapped. While the group may
 * exist, it is known to ProcessGroup::endStarted().
 */
class ProcessLaunch
{
public:
    /// Starts @p path with @p argv and @p environment, its standard streams
    /// on @p input, @p output and @p error.
    ProcessLaunch(const char* path, char* const* argv, char* const* environment, int input, int output, int error);
    ProcessLaunch(const ProcessLaunch&) = delete;
    ProcessLaunch& operator=(const ProcessLaunch&) = delete;
    ~ProcessLaunch();

    bool started() const { return m_notifier.isOpen(); }
    /// Readable once the supervisor has ended.
    int exitNotifier() const { return m_notifier.get(); }

    /// Reaps the supervisor once exitNotifier() is readable. True when it is
    /// gone, also when its status was lost: the run then failed.
    bool reap();

    /// The program's exit code when it was started and exited normally,
    /// otherwise -1. Valid after reap().
    int programExitCode() const { return m_exitCode; }

    /// What the processes of a launch share with this one.
    struct Shared;

private:
    static constexpr size_t MappingSize();

    bool start();
    void forgetGroupIfEmpty();

    char* m_mapping = nullptr;
    Shared* m_shared = nullptr;
    pid_t m_pid = 0;
    bool m_tracked = false;
    Descriptor m_notifier;
    bool m_reaped = false;
    int m_exitCode = -1;
};
