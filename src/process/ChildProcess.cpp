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
        // __WALL: the leader was started without an exit signal.
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

// What the new process needs before it runs the program. It shares this
// process's memory until exec, so it must not allocate or take locks.
struct Launch {
    const char* path;
    char* const* argv;
    int input;
    int output;
    int error;
    int execError; // written by the new process when exec fails
};

// Kernel layout of struct sigaction on x86-64 and the other 64-bit ports.
struct KernelSigaction {
    void (*handler)(int);
    unsigned long flags;
    void (*restorer)();
    unsigned long mask;
};

// Runs in the new process on a stack of its own. Only raw system calls: the
// C library's wrappers (and sanitizer interceptors of them) may touch state
// that this process shares with its parent.
__attribute__((no_sanitize("address", "undefined"))) int launch(void* argument)
{
    Launch* launch = static_cast<Launch*>(argument);
    // Every signal back to its default (callers such as Python ignore
    // SIGPIPE, which would otherwise reach the pipeline's commands), then
    // none blocked; the parent blocked them all around the clone.
    const KernelSigaction byDefault{SIG_DFL, 0, nullptr, 0};
    for (long signal = 1; signal < 65; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP)
            ::syscall(SYS_rt_sigaction, signal, &byDefault, nullptr, sizeof(unsigned long));
    const unsigned long none = 0;
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, sizeof none);

    if (::syscall(SYS_setpgid, 0, 0) == 0 && ::syscall(SYS_dup2, launch->input, STDIN_FILENO) >= 0
        && ::syscall(SYS_dup2, launch->output, STDOUT_FILENO) >= 0
        && ::syscall(SYS_dup2, launch->error, STDERR_FILENO) >= 0)
        ::syscall(SYS_execve, launch->path, launch->argv, environ);
    launch->execError = errno ? errno : ENOEXEC;
    ::syscall(SYS_exit, 127);
    return 127;
}

struct Spawned {
    pid_t pid = 0;
    int pidfd = -1;
};

// Starts the program as the leader of a new process group, without an exit
// signal, and returns its pid and a pidfd for it (pidfd -1 when it could not
// be started). CLONE_VM | CLONE_VFORK, as
// posix_spawn does, so that no copy of a large caller's memory map (a Python
// interpreter) is made: the parent waits here until the child has exec'd.
Spawned spawn(const QString& path, const QStringList& arguments, int input, int output, int error)
{
    std::vector<QByteArray> words;
    words.reserve(static_cast<size_t>(arguments.size()) + 1);
    words.push_back(QFile::encodeName(path));
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    constexpr size_t stackSize = 64 * 1024;
    void* stack = ::mmap(nullptr, stackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED)
        return {};

    Launch launchData{argv.front(), argv.data(), input, output, error, 0};
    // No signal handler of ours may run in the child while it shares our
    // memory; it unblocks them once they are back at their defaults.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    int pidfd = -1;
    const pid_t pid = ::clone(launch, static_cast<char*>(stack) + stackSize, CLONE_VM | CLONE_VFORK | CLONE_PIDFD,
                              &launchData, &pidfd);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::munmap(stack, stackSize);
    if (pid <= 0)
        return {};
    if (launchData.execError != 0) {
        siginfo_t info;
        while (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info, WEXITED | __WALL) < 0
               && errno == EINTR) {
        }
        ::close(pidfd);
        return {};
    }
    return {pid, pidfd};
}

// Ends the child's group when the run ends, whichever way it ends.
class GroupGuard
{
public:
    explicit GroupGuard(pid_t group)
        : m_group(group)
    {
    }
    GroupGuard(const GroupGuard&) = delete;
    GroupGuard& operator=(const GroupGuard&) = delete;
    ~GroupGuard()
    {
        // Normally the group is empty by now: nothing to wait for.
        if (::kill(-m_group, 0) == 0)
            endGroup(m_group);
    }

private:
    pid_t m_group;
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

    Pipe input;
    Pipe output;
    Pipe error;
    if (!input.open() || !output.open() || !error.open())
        return result;
    const QDeadlineTimer deadline(timeoutMs);
    const Spawned spawned = spawn(path, arguments, input.read.get(), output.write.get(), error.write.get());
    const Descriptor exitNotifier(spawned.pidfd); // readable once the child has ended
    // Nothing is ever written to the child: its input ends at once.
    input.read.reset();
    input.write.reset();
    output.write.reset();
    error.write.reset();
    if (!exitNotifier.isOpen())
        return result;
    // From here on, nothing the child started outlives the call, not even a
    // background job, and not when an exception leaves it.
    const GroupGuard group(spawned.pid);

    siginfo_t status{};
    bool exited = false;
    bool withinLimit = true;
    while (!exited && withinLimit) {
        const int remaining = static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1 << 30));
        if (remaining == 0)
            break;
        pollfd watched[3] = {{output.read.get(), POLLIN, 0}, {error.read.get(), POLLIN, 0}, {exitNotifier.get(), POLLIN, 0}};
        const int ready = ::poll(watched, 3, remaining);
        if (ready < 0 && errno != EINTR)
            break;
        if (watched[0].revents)
            withinLimit = readAvailable(output.read, result.standardOutput, false);
        if (watched[1].revents && withinLimit)
            withinLimit = readAvailable(error.read, result.standardError, false);
        if (watched[2].revents && withinLimit)
            exited = ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(exitNotifier.get()), &status,
                              WEXITED | __WALL) == 0;
    }

    // What the child wrote before it ended is still in the pipes.
    for (Descriptor* fd : {&output.read, &error.read})
        if (fd->isOpen())
            ::fcntl(fd->get(), F_SETFL, ::fcntl(fd->get(), F_GETFL) | O_NONBLOCK);
    withinLimit = withinLimit && readAvailable(error.read, result.standardError, true);
    if (exited && status.si_code == CLD_EXITED && withinLimit
        && readAvailable(output.read, result.standardOutput, true)) {
        result.succeeded = true;
        result.exitCode = status.si_status;
        return result;
    }
    result.standardOutput.clear();
    return result;
}

ChildProcess::Result ChildProcess::runShell(const QString& commandLine, int timeoutMs)
{
    return run(QStringLiteral("/usr/bin/bash"), {QStringLiteral("-c"), commandLine}, timeoutMs);
}
