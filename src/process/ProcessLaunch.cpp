// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "ProcessLaunch.h"

#include "ProcessGroup.h"
#include "RawSyscall.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

// What the processes of a launch need and report. It lives in memory that
// they share with this process; they must not allocate or take locks.
struct ProcessLaunch::Shared {
    const char* path;
    char* const* argv;
    char* const* environment;
    int input;
    int output;
    int error;
    int lifeline; // the supervisor's end of the pipe that tells its end
    int descriptorLimit; // descriptors to close where neither close_range() nor /proc is there
    pid_t caller; // this process: while it is the supervisor's parent, the run goes on
    volatile int startError; // errno of a program that could not be started
    volatile int waitStatus; // the program's wait status, as the supervisor saw it
    volatile int waited; // 1 once waitStatus holds it
};

namespace {

// Sizes within a launch's one mapping: the supervisor's stack (which holds
// the program's stack too), then the shared data.
constexpr size_t SupervisorStackSize = 96 * 1024;
constexpr size_t ProgramStackSize = 32 * 1024;

// The program's process: every signal back to its default (callers such as
// Python ignore SIGPIPE, which would otherwise reach a pipeline's commands)
// and none blocked, the pipes on 0, 1 and 2, then exec.
__attribute__((no_sanitize("address", "undefined"))) int runProgram(void* argument)
{
    using RawSyscall::call;
    auto* data = static_cast<ProcessLaunch::Shared*>(argument);
    for (long signal = 1; signal < 65; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP)
            RawSyscall::setDefaultAction(signal);
    const unsigned long none = 0;
    call(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&none), 0, sizeof none);

    long failed = call(SYS_dup2, data->input, STDIN_FILENO);
    if (failed >= 0)
        failed = call(SYS_dup2, data->output, STDOUT_FILENO);
    if (failed >= 0)
        failed = call(SYS_dup2, data->error, STDERR_FILENO);
    if (failed >= 0)
        failed = call(SYS_execve, reinterpret_cast<long>(data->path), reinterpret_cast<long>(data->argv),
                      reinterpret_cast<long>(data->environment));
    data->startError = failed < 0 ? static_cast<int>(-failed) : ENOEXEC;
    call(SYS_exit, 127);
    return 127;
}

// The supervisor holds copies of all our descriptors, which would keep the
// program's output (and any pipe of the caller's) from ending while it
// waits: it keeps only @p keep. Before close_range (Linux 5.9) it closes
// those /proc lists, and without /proc every one below @p limit.
__attribute__((no_sanitize("address", "undefined"))) void closeAllBut(int keep, int limit)
{
    using RawSyscall::call;
    if (call(SYS_close_range, 0, keep - 1, 0) >= 0 && call(SYS_close_range, keep + 1, ~0U, 0) >= 0)
        return;
    const long directory = call(SYS_open, reinterpret_cast<long>("/proc/self/fd"), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        for (int fd = 0; fd < limit; ++fd)
            if (fd != keep)
                call(SYS_close, fd);
        return;
    }
    // Closing what was listed already does not disturb the listing: it goes
    // by descriptor number.
    RawSyscall::forEachDirectoryEntry(
        directory, [ keep, directory ](const char* name) __attribute__((no_sanitize("address", "undefined"))) {
            if (*name < '0' || *name > '9')
                return true;
            long fd = 0;
            for (; *name >= '0' && *name <= '9'; ++name)
                fd = fd * 10 + (*name - '0');
            if (fd != keep && fd != directory)
                RawSyscall::call(SYS_close, fd);
            return true;
        });
    call(SYS_close, directory);
}

// The caller is gone (the kernel said so with the parent-death signal): end
// the whole run as ProcessGroup::end would, this supervisor included.
__attribute__((no_sanitize("address", "undefined"), noreturn)) void endOrphanedRun()
{
    using RawSyscall::call;
    call(SYS_kill, 0, SIGTERM); // our own signals stay blocked
    const timespec grace{ProcessGroup::TerminationGraceMs / 1000, (ProcessGroup::TerminationGraceMs % 1000) * 1000000L};
    call(SYS_nanosleep, reinterpret_cast<long>(&grace), 0);
    for (;;)
        call(SYS_kill, 0, SIGKILL);
}

// The supervisor: our child, without exit signal, leader of the new process
// group. It starts the program, waits for it, keeps its status, says so
// through the lifeline and exits. It never execs (an exec would restore
// SIGCHLD as exit signal), and its signals stay blocked: it takes SIGCHLD
// with sigtimedwait, for the program's end and for the caller's death.
__attribute__((no_sanitize("address", "undefined"))) int supervise(void* argument)
{
    using RawSyscall::call;
    auto* data = static_cast<ProcessLaunch::Shared*>(argument);
    // Its own copy of the signal table: the program must be waitable here.
    RawSyscall::setDefaultAction(SIGCHLD);
    call(SYS_setpgid, 0, 0);
    call(SYS_prctl, PR_SET_PDEATHSIG, SIGCHLD);
    if (call(SYS_getppid) != data->caller)
        endOrphanedRun();

    // CLONE_VFORK: the supervisor waits here until the program has exec'd,
    // so the program may run on the supervisor's stack. (The C library's
    // clone touches errno only when it fails.)
    alignas(16) char stack[ProgramStackSize];
    const pid_t program = ::clone(runProgram, stack + sizeof stack, CLONE_VM | CLONE_VFORK | SIGCHLD, data);
    if (program < 0) {
        data->startError = EAGAIN;
    } else {
        closeAllBut(data->lifeline, data->descriptorLimit);
        const unsigned long childSignal = 1UL << (SIGCHLD - 1);
        int status = 0;
        long waited;
        // SIGCHLD stays pending while blocked: one that comes between a
        // look and the wait ends the wait at once.
        while ((waited = call(SYS_wait4, program, reinterpret_cast<long>(&status), __WALL | WNOHANG, 0)) == 0
               || waited == -EINTR) {
            if (call(SYS_getppid) != data->caller)
                endOrphanedRun();
            call(SYS_rt_sigtimedwait, reinterpret_cast<long>(&childSignal), 0, 0, sizeof childSignal);
        }
        data->waitStatus = status;
        data->waited = waited == program ? 1 : 0;
    }
    // A byte, not only the pipe's end: a copy of the lifeline that a fork of
    // the caller's made meanwhile may keep the pipe open.
    const char done = 1;
    call(SYS_write, data->lifeline, reinterpret_cast<long>(&done), 1);
    call(SYS_exit, 0);
    return 0;
}

int descriptorLimit()
{
    const long limit = ::sysconf(_SC_OPEN_MAX);
    return limit > 0 ? static_cast<int>(std::min(limit, 65536L)) : 1024;
}

// Runs @p start with every signal blocked in this thread: no signal handler
// of ours may run in a process that shares our memory, so the processes of
// a launch start with everything blocked (the program until its signals are
// back at their defaults, the supervisor for good). A handler that ends our
// children (ChildProcess::endChildrenOnInterrupt) then finds them in their
// group and known to ProcessGroup.
template <typename Start> void withSignalsBlocked(Start start)
{
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    start();
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace

constexpr size_t ProcessLaunch::MappingSize()
{
    return SupervisorStackSize + ((sizeof(Shared) + 4095) & ~size_t(4095));
}

ProcessLaunch::ProcessLaunch(const char* path, char* const* argv, char* const* environment, int input, int output,
                             int error)
{
    void* mapping =
        ::mmap(nullptr, MappingSize(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED)
        return;
    m_mapping = static_cast<char*>(mapping);
    m_shared = new (m_mapping + SupervisorStackSize)
        Shared{path, argv, environment, input, output, error, -1, descriptorLimit(), ::getpid(), 0, 0, 0};
    start();
}

bool ProcessLaunch::start()
{
    Pipe lifeline;
    if (!lifeline.open())
        return false;
    m_shared->lifeline = lifeline.write.get();
    withSignalsBlocked([&] {
        // No exit signal. The supervisor makes itself the leader of its
        // group too; whichever comes first, the group exists before anything
        // could need to end it, and is known before a handler could look.
        m_pid = ::clone(supervise, m_mapping + SupervisorStackSize, CLONE_VM, m_shared);
        if (m_pid > 0) {
            ::setpgid(m_pid, m_pid);
            m_tracked = ProcessGroup::track(m_pid);
        }
    });
    if (m_pid <= 0) {
        m_pid = 0;
        return false;
    }
    // A group that an interrupt could not end is not run: the destructor
    // ends it.
    if (!m_tracked)
        return false;
    m_notifier.reset(lifeline.read.release());
    return true;
}

ProcessLaunch::~ProcessLaunch()
{
    // The supervisor runs on our memory until it is gone.
    bool mayUnmap = m_reaped;
    // Normally the group is empty by now: nothing to wait for.
    if (m_pid > 0 && (!m_reaped || ::kill(-m_pid, 0) == 0)) {
        const pid_t group = -m_pid;
        mayUnmap = ProcessGroup::end(&group, 1, m_pid) || mayUnmap;
    }
    if (!mayUnmap) {
        const pid_t waited = ::waitpid(m_pid, nullptr, WNOHANG | __WALL);
        mayUnmap = waited == m_pid || (waited < 0 && errno == ECHILD);
    }
    if (m_tracked)
        ProcessGroup::forget(m_pid);
    // Otherwise even SIGKILL has not ended the supervisor yet: its memory
    // stays mapped.
    if (m_mapping && mayUnmap)
        ::munmap(m_mapping, MappingSize());
}

bool ProcessLaunch::reap()
{
    int status = 0;
    pid_t waited;
    do
        waited = ::waitpid(m_pid, &status, __WALL);
    while (waited < 0 && errno == EINTR);
    if (waited != m_pid)
        return m_reaped = errno == ECHILD;
    m_reaped = true;
    forgetGroupIfEmpty();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && m_shared->startError == 0 && m_shared->waited
        && WIFEXITED(m_shared->waitStatus))
        m_exitCode = WEXITSTATUS(m_shared->waitStatus);
    return true;
}

void ProcessLaunch::forgetGroupIfEmpty()
{
    // Once the group is empty its number may be given to another process:
    // an interrupt must no longer signal it.
    const int savedErrno = errno;
    if (m_tracked && ::kill(-m_pid, 0) != 0 && errno == ESRCH) {
        ProcessGroup::forget(m_pid);
        m_tracked = false;
    }
    errno = savedErrno;
}
