// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "ProcessLaunch.h"

#include "ProcessGroup.h"
#include "RawSyscall.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif
#ifndef CLONE_PIDFD
#define CLONE_PIDFD 0x00001000
#endif

extern char** environ;

// What the processes of a launch need and report. It lives in memory that
// they share with this process; they must not allocate or take locks.
struct ProcessLaunch::Shared {
    const char* path;
    char* const* argv;
    char* const* environment;
    int input;
    int output;
    int error;
    int lifeline;            // the supervisor's end of the pipe that tells its end
    int descriptorLimit;     // descriptors to close where neither close_range() nor /proc is there
    bool ownGroup;           // the program leads a new process group (no supervisor)
    volatile int startError; // errno of a program that could not be started
    volatile int waitStatus; // the program's wait status, as the supervisor saw it
    volatile int waited;     // 1 once waitStatus holds it
};

namespace {

// Sizes within a launch's one mapping: the supervisor's stack (which holds
// the program's stack too), then the shared data.
constexpr size_t SupervisorStackSize = 96 * 1024;
constexpr size_t ProgramStackSize = 32 * 1024;

// 1 when this kernel waits through pidfds, -1 when not, 0 before the first
// launch asked.
std::atomic<int> pidfdWaiting{0};

bool pidfdsCanWait()
{
    int known = pidfdWaiting.load(std::memory_order_relaxed);
    if (known == 0) {
        // EBADF: the kernel knows P_PIDFD (Linux 5.4 on) and has no such
        // descriptor; older kernels answer EINVAL.
        siginfo_t info{};
        known = RawSyscall::call(SYS_waitid, P_PIDFD, INT_MAX, reinterpret_cast<long>(&info), WEXITED | WNOHANG, 0)
                == -EBADF
            ? 1
            : -1;
        pidfdWaiting.store(known, std::memory_order_relaxed);
    }
    return known > 0;
}

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

    long failed = data->ownGroup ? call(SYS_setpgid, 0, 0) : 0;
    if (failed >= 0)
        failed = call(SYS_dup2, data->input, STDIN_FILENO);
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
    alignas(8) char buffer[2048];
    long count;
    // Closing what was listed already does not disturb the listing: it goes
    // by descriptor number.
    while ((count = call(SYS_getdents64, directory, reinterpret_cast<long>(buffer), sizeof buffer)) > 0) {
        for (long offset = 0; offset < count;) {
            // struct linux_dirent64: inode, offset, record length, type, name
            const char* record = buffer + offset;
            offset += *reinterpret_cast<const unsigned short*>(record + 16);
            long fd = 0;
            const char* name = record + 19;
            if (*name < '0' || *name > '9')
                continue;
            for (; *name >= '0' && *name <= '9'; ++name)
                fd = fd * 10 + (*name - '0');
            if (fd != keep && fd != directory)
                call(SYS_close, fd);
        }
    }
    call(SYS_close, directory);
}

// The supervisor: our child, without exit signal, leader of the new process
// group. It starts the program, waits for it, keeps its status, says so
// through the lifeline and exits. It never execs (an exec would restore
// SIGCHLD as exit signal), and its signals stay blocked.
__attribute__((no_sanitize("address", "undefined"))) int supervise(void* argument)
{
    using RawSyscall::call;
    auto* data = static_cast<ProcessLaunch::Shared*>(argument);
    // Its own copy of the signal table: the program must be waitable here.
    RawSyscall::setDefaultAction(SIGCHLD);
    call(SYS_setpgid, 0, 0);

    // CLONE_VFORK: the supervisor waits here until the program has exec'd,
    // so the program may run on the supervisor's stack. (The C library's
    // clone touches errno only when it fails.)
    alignas(16) char stack[ProgramStackSize];
    const pid_t program = ::clone(runProgram, stack + sizeof stack, CLONE_VM | CLONE_VFORK | SIGCHLD, data);
    if (program < 0) {
        data->startError = EAGAIN;
    } else {
        closeAllBut(data->lifeline, data->descriptorLimit);
        int status = 0;
        long waited;
        do
            waited = call(SYS_wait4, program, reinterpret_cast<long>(&status), __WALL, 0);
        while (waited == -EINTR);
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
// group.
template <typename Start>
void withSignalsBlocked(Start start)
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

bool ProcessLaunch::waitsDirectly()
{
    struct sigaction action = {};
    return ::sigaction(SIGCHLD, nullptr, &action) == 0 && action.sa_handler == SIG_DFL
        && (action.sa_flags & SA_NOCLDWAIT) == 0 && pidfdsCanWait();
}

ProcessLaunch::ProcessLaunch(const char* path, char* const* argv, int input, int output, int error)
{
    void* mapping = ::mmap(nullptr, MappingSize(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK,
                           -1, 0);
    if (mapping == MAP_FAILED)
        return;
    m_mapping = static_cast<char*>(mapping);
    m_shared = new (m_mapping + SupervisorStackSize)
        Shared{path, argv, environ, input, output, error, -1, 0, false, 0, 0, 0};
    // A kernel that refuses CLONE_PIDFD although it waits through pidfds
    // (a sandbox's filter) started nothing: supervise this and later runs.
    if (!waitsDirectly() || (!startDirectly() && pidfdWaiting.load() < 0))
        startSupervised();
}

bool ProcessLaunch::startDirectly()
{
    m_shared->ownGroup = true;
    int pidfd = -1;
    int cloneError = 0;
    withSignalsBlocked([&] {
        // We wait here until the program has exec'd.
        m_pid = ::clone(runProgram, m_mapping + SupervisorStackSize, CLONE_VM | CLONE_VFORK | CLONE_PIDFD | SIGCHLD,
                        m_shared, &pidfd);
        cloneError = errno;
    });
    if (m_pid < 0) {
        m_pid = 0;
        if (cloneError == EINVAL)
            pidfdWaiting.store(-1);
        return false;
    }
    if (pidfd < 0) {
        // A kernel that ignores CLONE_PIDFD: the program runs, and nothing
        // could tell us when it ends. End it; this run fails, later ones
        // are supervised.
        pidfdWaiting.store(-1);
        const pid_t group = -m_pid;
        ProcessGroup::end(&group, 1, m_pid);
        m_pid = 0;
        return true;
    }
    m_notifier.reset(pidfd);
    return true;
}

bool ProcessLaunch::startSupervised()
{
    Pipe lifeline;
    if (!lifeline.open())
        return false;
    m_shared->ownGroup = false;
    m_shared->lifeline = lifeline.write.get();
    m_shared->descriptorLimit = descriptorLimit();
    withSignalsBlocked([&] {
        // No exit signal. The supervisor makes itself the leader of its
        // group too; whichever comes first, the group exists before anything
        // could need to end it.
        m_pid = ::clone(supervise, m_mapping + SupervisorStackSize, CLONE_VM, m_shared);
        if (m_pid > 0)
            ::setpgid(m_pid, m_pid);
    });
    if (m_pid <= 0) {
        m_pid = 0;
        return false;
    }
    m_supervised = true;
    m_notifier.reset(lifeline.read.release());
    return true;
}

ProcessLaunch::~ProcessLaunch()
{
    // A program started directly left our memory when it exec'd; a
    // supervisor runs on it until it is gone.
    bool mayUnmap = !m_supervised || m_reaped;
    // Normally the group is empty by now: nothing to wait for.
    if (m_pid > 0 && (!m_reaped || ::kill(-m_pid, 0) == 0)) {
        const pid_t group = -m_pid;
        mayUnmap = ProcessGroup::end(&group, 1, m_pid) || mayUnmap;
    }
    if (!mayUnmap) {
        const pid_t waited = ::waitpid(m_pid, nullptr, WNOHANG | __WALL);
        mayUnmap = waited == m_pid || (waited < 0 && errno == ECHILD);
    }
    // Otherwise even SIGKILL has not ended the supervisor yet: its memory
    // stays mapped.
    if (m_mapping && mayUnmap)
        ::munmap(m_mapping, MappingSize());
}

bool ProcessLaunch::reap()
{
    if (!m_supervised) {
        siginfo_t info{};
        if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(m_notifier.get()), &info, WEXITED | __WALL) != 0)
            return m_reaped = errno == ECHILD;
        m_reaped = true;
        if (info.si_code == CLD_EXITED && m_shared->startError == 0)
            m_exitCode = info.si_status;
        return true;
    }
    int status = 0;
    pid_t waited;
    do
        waited = ::waitpid(m_pid, &status, __WALL);
    while (waited < 0 && errno == EINTR);
    if (waited != m_pid)
        return m_reaped = errno == ECHILD;
    m_reaped = true;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && m_shared->startError == 0 && m_shared->waited
        && WIFEXITED(m_shared->waitStatus))
        m_exitCode = WEXITSTATUS(m_shared->waitStatus);
    return true;
}
