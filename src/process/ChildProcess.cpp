#include "ChildProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

extern char** environ;

namespace {

// How long a group asked to end with SIGTERM has before SIGKILL, and how
// long SIGKILL then has to take effect.
constexpr int TerminationGraceMs = 1000;
constexpr int KillGraceMs = 5000;

bool holdsNul(const QString& text)
{
    return text.contains(QChar(0));
}

// A file descriptor closed when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }
    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

struct Pipe {
    Descriptor read;
    Descriptor write;
    bool open()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        read.reset(fds[0]);
        write.reset(fds[1]);
        // The child moves its ends onto 0, 1 and 2; an end that already sits
        // there (the caller closed a standard stream) would be overwritten.
        for (Descriptor* end : {&read, &write}) {
            if (end->get() > STDERR_FILENO)
                continue;
            const int moved = ::fcntl(end->get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            if (moved < 0)
                return false;
            end->reset(moved);
        }
        return true;
    }
};

// Reads what is there now; closes the descriptor at the end of the stream.
// Returns false when the stream has written more than the limit.
bool readAvailable(Descriptor& fd, QByteArray& into, bool untilEmpty)
{
    char buffer[65536];
    while (fd.isOpen()) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count > 0) {
            if (into.size() + count > ChildProcess::OutputLimitBytes)
                return false;
            into.append(buffer, static_cast<int>(count));
            if (!untilEmpty)
                return true;
        } else if (count == 0) {
            fd.reset();
        } else if (errno == EINTR) {
            continue;
        } else {
            if (errno != EAGAIN)
                fd.reset();
            return true;
        }
    }
    return true;
}

// True while some process of @p group is alive, or dead and ours to reap.
// Zombies that belong to another parent are not waited for: we could not
// reap them anyway.
bool groupHasMembersToWaitFor(pid_t group)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return ::kill(-group, 0) == 0;
    const pid_t self = ::getpid();
    bool found = false;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        char path[300];
        std::snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        FILE* file = std::fopen(path, "re");
        if (!file)
            continue;
        char buffer[512];
        const size_t length = std::fread(buffer, 1, sizeof buffer - 1, file);
        std::fclose(file);
        buffer[length] = '\0';
        // "pid (comm) state ppid pgrp ...": comm may hold anything, so read
        // from its last closing parenthesis.
        const char* rest = std::strrchr(buffer, ')');
        char state = 0;
        int parent = 0;
        int processGroup = 0;
        if (!rest || std::sscanf(rest + 1, " %c %d %d", &state, &parent, &processGroup) != 3)
            continue;
        if (processGroup == group && (state != 'Z' || parent == self)) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

// Ends every process of the child's group (the child leads it) and reaps
// them: SIGTERM first, so that programs such as sort remove their temporary
// files, then SIGKILL for whatever is left after the grace. For the time of
// the clean-up this process becomes a child subreaper, so that members whose
// parent dies first are handed to us rather than to an init that may never
// reap them.
void endGroup(pid_t group)
{
    int wasSubreaper = 0;
    ::prctl(PR_GET_CHILD_SUBREAPER, &wasSubreaper);
    if (!wasSubreaper)
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    int signal = SIGTERM;
    ::kill(-group, signal);
    QDeadlineTimer deadline(TerminationGraceMs);
    auto pause = std::chrono::milliseconds(1);
    while (true) {
        // __WALL: a supervisor has no exit signal.
        while (::waitpid(-group, nullptr, WNOHANG | __WALL) > 0) {
        }
        if (!groupHasMembersToWaitFor(group))
            break;
        if (deadline.hasExpired()) {
            if (signal == SIGKILL)
                break;
            signal = SIGKILL;
            deadline.setRemainingTime(KillGraceMs);
        }
        ::kill(-group, signal); // members forked while the first signal travelled
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(16));
    }

    if (!wasSubreaper)
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

#if !defined(__x86_64__)
#error "The process launcher below makes x86-64 Linux system calls directly."
#endif

// A system call without the C library: returns the result, or -errno. The
// processes of a launch share this process's memory, thread-local errno
// included, so the C library's wrappers (and sanitizer interceptors of them)
// must stay out of them.
__attribute__((no_sanitize("address", "undefined"))) long rawSyscall(long number, long first = 0, long second = 0,
                                                                    long third = 0, long fourth = 0)
{
    long result;
    register long r10 asm("r10") = fourth;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(first), "S"(second), "d"(third), "r"(r10)
                 : "rcx", "r11", "memory");
    return result;
}

// Kernel layout of struct sigaction on x86-64.
struct KernelSigaction {
    void (*handler)(int);
    unsigned long flags;
    void (*restorer)();
    unsigned long mask;
};

// Sizes within a launch's one mapping: the supervisor's stack (which holds
// the program's stack too), then the data shared with this process.
constexpr size_t SupervisorStackSize = 96 * 1024;
constexpr size_t ProgramStackSize = 32 * 1024;

// What the two processes of a launch need and report. It lives in memory
// that they share with this process; they must not allocate or take locks.
struct LaunchData {
    const char* path;
    char* const* argv;
    char* const* environment;
    int input;
    int output;
    int error;
    int descriptorLimit; // descriptors to close where close_range() is missing
    bool ownGroup;       // the program leads a new process group (no supervisor)
    volatile int startError; // errno of a program that could not be started
    volatile int waitStatus; // the program's wait status
    volatile int waited;     // 1 once waitStatus holds it
};

// The program's process: every signal back to its default (callers such as
// Python ignore SIGPIPE, which would otherwise reach a pipeline's
// commands) and none blocked, the pipes on 0, 1 and 2, then exec.
__attribute__((no_sanitize("address", "undefined"))) int runProgram(void* argument)
{
    LaunchData* data = static_cast<LaunchData*>(argument);
    const KernelSigaction byDefault{SIG_DFL, 0, nullptr, 0};
    for (long signal = 1; signal < 65; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP)
            rawSyscall(SYS_rt_sigaction, signal, reinterpret_cast<long>(&byDefault), 0, sizeof(unsigned long));
    const unsigned long none = 0;
    rawSyscall(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&none), 0, sizeof none);

    long failed = data->ownGroup ? rawSyscall(SYS_setpgid, 0, 0) : 0;
    if (failed >= 0)
        failed = rawSyscall(SYS_dup2, data->input, STDIN_FILENO);
    if (failed >= 0)
        failed = rawSyscall(SYS_dup2, data->output, STDOUT_FILENO);
    if (failed >= 0)
        failed = rawSyscall(SYS_dup2, data->error, STDERR_FILENO);
    if (failed >= 0)
        failed = rawSyscall(SYS_execve, reinterpret_cast<long>(data->path), reinterpret_cast<long>(data->argv),
                            reinterpret_cast<long>(data->environment));
    data->startError = failed < 0 ? static_cast<int>(-failed) : ENOEXEC;
    rawSyscall(SYS_exit, 127);
    return 127;
}

// The supervisor: our direct child, which leads the new process group,
// starts the program and waits for it. It has no exit signal and never
// execs (an exec would restore SIGCHLD as exit signal), so the kernel never
// reaps it on its own, whatever this process does with SIGCHLD, and it stays
// invisible to a caller's waitpid(-1). Its signals stay blocked.
__attribute__((no_sanitize("address", "undefined"))) int supervise(void* argument)
{
    LaunchData* data = static_cast<LaunchData*>(argument);
    // Its own copy of the signal table: the program must be waitable here.
    const KernelSigaction byDefault{SIG_DFL, 0, nullptr, 0};
    rawSyscall(SYS_rt_sigaction, SIGCHLD, reinterpret_cast<long>(&byDefault), 0, sizeof(unsigned long));
    rawSyscall(SYS_setpgid, 0, 0);

    // CLONE_VFORK: the supervisor waits here until the program has exec'd,
    // so the program may run on the supervisor's stack. (The C library's
    // clone touches errno only when it fails, which ends the launch anyway.)
    alignas(16) char stack[ProgramStackSize];
    const pid_t program = ::clone(runProgram, stack + sizeof stack, CLONE_VM | CLONE_VFORK | SIGCHLD, data);
    if (program < 0) {
        data->startError = EAGAIN;
        return 1;
    }
    // It holds copies of all our descriptors, which would keep the program's
    // input (and any pipe of the caller's) from ending while it waits.
    if (rawSyscall(SYS_close_range, 0, ~0U, 0) < 0)
        for (int fd = 0; fd < data->descriptorLimit; ++fd)
            rawSyscall(SYS_close, fd);

    int status = 0;
    long waited;
    do
        waited = rawSyscall(SYS_wait4, program, reinterpret_cast<long>(&status), __WALL, 0);
    while (waited == -EINTR);
    data->waitStatus = status;
    data->waited = waited == program ? 1 : 0;
    return 0;
}

int descriptorLimit()
{
    const long limit = ::sysconf(_SC_OPEN_MAX);
    return limit > 0 ? static_cast<int>(std::min(limit, 65536L)) : 1024;
}

// True when the kernel reaps this process's children by itself (SIGCHLD
// ignored, or SA_NOCLDWAIT): their exit status would be lost.
bool childrenAreReapedByTheKernel()
{
    struct sigaction action = {};
    return ::sigaction(SIGCHLD, nullptr, &action) == 0
        && (action.sa_handler == SIG_IGN || (action.sa_flags & SA_NOCLDWAIT) != 0);
}

/**
 * One program run: the process we wait for through a pidfd (the program,
 * leader of its own process group; or, in a caller whose children the
 * kernel reaps, a supervisor that leads the group and waits for the
 * program), and the mapping with the stack and the shared data. Started
 * with CLONE_VM, as posix_spawn does, so that no copy of a large caller's
 * memory map (a Python interpreter) is made.
 *
 * Whichever way the run ends, the destructor ends the group (SIGTERM, then
 * SIGKILL) and reaps it, so that nothing the program started outlives the
 * call, not even a background job, and not when an exception leaves it.
 */
class Launch
{
public:
    Launch(const char* path, char* const* argv, int input, int output, int error)
    {
        void* mapping = ::mmap(nullptr, MappingSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK,
                               -1, 0);
        if (mapping == MAP_FAILED)
            return;
        m_mapping = static_cast<char*>(mapping);
        m_supervised = childrenAreReapedByTheKernel();
        m_data = new (m_mapping + SupervisorStackSize)
            LaunchData{path, argv, environ, input, output, error, m_supervised ? descriptorLimit() : 0, !m_supervised, 0,
                       0, 0};

        // No signal handler of ours may run in a process that shares our
        // memory: they start with every signal blocked (the program until
        // its signals are back at their defaults, the supervisor for good).
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &previous);
        int pidfd = -1;
        // The program directly: we wait here until it has exec'd. The
        // supervisor runs beside us.
        m_pid = m_supervised
            ? ::clone(supervise, m_mapping + SupervisorStackSize, CLONE_VM | CLONE_PIDFD, m_data, &pidfd)
            : ::clone(runProgram, m_mapping + SupervisorStackSize, CLONE_VM | CLONE_VFORK | CLONE_PIDFD | SIGCHLD,
                      m_data, &pidfd);
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (m_pid <= 0)
            return;
        m_pidfd.reset(pidfd);
        // The supervisor does so too; whichever comes first, the group
        // exists before anything could need to end it.
        if (m_supervised)
            ::setpgid(m_pid, m_pid);
    }
    Launch(const Launch&) = delete;
    Launch& operator=(const Launch&) = delete;

    ~Launch()
    {
        if (!m_pidfd.isOpen()) {
            if (m_mapping)
                ::munmap(m_mapping, MappingSize);
            return;
        }
        // Normally the group is empty by now: nothing to wait for.
        if (!m_reaped || ::kill(-m_pid, 0) == 0)
            endGroup(m_pid);
        // A supervisor runs on the mapping: it goes only once the process
        // we waited for is surely gone.
        siginfo_t info{};
        if (m_reaped
            || ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(m_pidfd.get()), &info,
                        WEXITED | WNOHANG | __WALL)
                < 0
            || info.si_pid != 0)
            ::munmap(m_mapping, MappingSize);
    }

    bool started() const { return m_pidfd.isOpen(); }
    /// Readable once the process we wait for has ended.
    int exitNotifier() const { return m_pidfd.get(); }

    /// Reaps the process we wait for once exitNotifier() is readable. True
    /// when it is gone, also when its status was lost (someone else reaped
    /// it): the run then failed.
    bool reap()
    {
        siginfo_t info{};
        if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(m_pidfd.get()), &info, WEXITED | __WALL) != 0)
            return m_reaped = errno == ECHILD;
        m_reaped = true;
        if (info.si_code == CLD_EXITED && m_data->startError == 0) {
            if (!m_supervised)
                m_exitCode = info.si_status;
            else if (info.si_status == 0 && m_data->waited && WIFEXITED(m_data->waitStatus))
                m_exitCode = WEXITSTATUS(m_data->waitStatus);
        }
        return true;
    }

    /// The program's exit code when it was started and exited normally,
    /// otherwise -1. Valid after reap().
    int programExitCode() const { return m_exitCode; }

private:
    static constexpr size_t MappingSize = SupervisorStackSize + ((sizeof(LaunchData) + 4095) & ~size_t(4095));

    char* m_mapping = nullptr;
    LaunchData* m_data = nullptr;
    pid_t m_pid = 0;
    Descriptor m_pidfd;
    bool m_supervised = false;
    bool m_reaped = false;
    int m_exitCode = -1;
};

} // namespace

ChildProcess::Result ChildProcess::run(const QString& program, const QStringList& arguments,
                                       int timeoutMs)
{
    Result result;
    if (holdsNul(program) || std::any_of(arguments.cbegin(), arguments.cend(), holdsNul))
        return result;
    const QString path = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return result;

    // Read by the program's process until it execs: kept for the whole run.
    std::vector<QByteArray> words;
    words.reserve(static_cast<size_t>(arguments.size()) + 1);
    words.push_back(QFile::encodeName(path));
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    Pipe input;
    Pipe output;
    Pipe error;
    if (!input.open() || !output.open() || !error.open())
        return result;
    const QDeadlineTimer deadline(timeoutMs);
    Launch launch(argv.front(), argv.data(), input.read.get(), output.write.get(), error.write.get());
    if (!launch.started())
        return result;
    // The supervisor has copies of its own. Nothing is ever written to the
    // child: its input ends at once.
    input.read.reset();
    input.write.reset();
    output.write.reset();
    error.write.reset();

    bool exited = false;
    bool withinLimit = true;
    while (!exited && withinLimit) {
        const int remaining = static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1 << 30));
        if (remaining == 0)
            break;
        pollfd watched[3] = {{output.read.get(), POLLIN, 0}, {error.read.get(), POLLIN, 0}, {launch.exitNotifier(), POLLIN, 0}};
        const int ready = ::poll(watched, 3, remaining);
        if (ready < 0 && errno != EINTR)
            break;
        if (watched[0].revents)
            withinLimit = readAvailable(output.read, result.standardOutput, false);
        if (watched[1].revents && withinLimit)
            withinLimit = readAvailable(error.read, result.standardError, false);
        if (watched[2].revents && withinLimit)
            exited = launch.reap();
    }

    // What the child wrote before it ended is still in the pipes.
    for (Descriptor* fd : {&output.read, &error.read})
        if (fd->isOpen())
            ::fcntl(fd->get(), F_SETFL, ::fcntl(fd->get(), F_GETFL) | O_NONBLOCK);
    withinLimit = withinLimit && readAvailable(error.read, result.standardError, true);
    const int exitCode = exited ? launch.programExitCode() : -1;
    if (exitCode >= 0 && withinLimit && readAvailable(output.read, result.standardOutput, true)) {
        result.succeeded = true;
        result.exitCode = exitCode;
        return result;
    }
    result.standardOutput.clear();
    return result;
}

ChildProcess::Result ChildProcess::runShell(const QString& commandLine, int timeoutMs)
{
    return run(QStringLiteral("/usr/bin/bash"), {QStringLiteral("-c"), commandLine}, timeoutMs);
}
