// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include "Descriptor.h"

#include <cstddef>

#include <sys/types.h>

/**
 * One started program and how it is waited for, in one of two ways:
 *
 * - Directly: the program is our child and leads a process group of its
 *   own; its end is seen, and it is reaped, through a pidfd. Used when
 *   SIGCHLD is at its default and the kernel can wait through pidfds
 *   (Linux 5.4 and later).
 * - Supervised: our child is a supervisor that leads the group, starts the
 *   program, waits for it and keeps its status. The supervisor has no exit
 *   signal and never execs, so the kernel never reaps it on its own (SIGCHLD
 *   ignored) and a caller's waitpid(-1) or reaping SIGCHLD handler never
 *   sees it; we reap it with waitpid(__WALL), which works on any kernel,
 *   and see its end through a pipe that only it holds. Used in every other
 *   case.
 *
 * Both start with CLONE_VM, as posix_spawn does, so that no copy of a large
 * caller's memory map (a Python interpreter) is made.
 *
 * Whichever way the run ends, the destructor ends the group and reaps it,
 * so that nothing the program started outlives the run, not even a
 * background job, and not when an exception leaves it. Memory that a
 * started process may still run on is never unmapped.
 */
class ProcessLaunch
{
public:
    /// Starts @p path with @p argv and this process's environment, its
    /// standard streams on @p input, @p output and @p error.
    ProcessLaunch(const char* path, char* const* argv, int input, int output, int error);
    ProcessLaunch(const ProcessLaunch&) = delete;
    ProcessLaunch& operator=(const ProcessLaunch&) = delete;
    ~ProcessLaunch();

    bool started() const { return m_notifier.isOpen(); }
    /// Readable once the process we wait for has ended.
    int exitNotifier() const { return m_notifier.get(); }

    /// Reaps the process we wait for once exitNotifier() is readable. True
    /// when it is gone, also when its status was lost (someone else reaped
    /// it): the run then failed.
    bool reap();

    /// The program's exit code when it was started and exited normally,
    /// otherwise -1. Valid after reap().
    int programExitCode() const { return m_exitCode; }

    /// Whether programs are waited for directly in this process now.
    static bool waitsDirectly();

    /// What the processes of a launch share with this one.
    struct Shared;

private:
    static constexpr size_t MappingSize();

    bool startDirectly();
    bool startSupervised();

    char* m_mapping = nullptr;
    Shared* m_shared = nullptr;
    pid_t m_pid = 0;
    bool m_supervised = false;
    Descriptor m_notifier;
    bool m_reaped = false;
    int m_exitCode = -1;
};
