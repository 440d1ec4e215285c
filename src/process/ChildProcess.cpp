#include "ChildProcess.h"

#include <QDeadlineTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

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
        return true;
    }
};

// Reads what is there now; closes the descriptor at the end of the stream.
void readAvailable(Descriptor& fd, QByteArray& into, bool untilEmpty)
{
    char buffer[65536];
    while (fd.isOpen()) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count > 0) {
            into.append(buffer, static_cast<int>(count));
            if (!untilEmpty)
                return;
        } else if (count == 0) {
            fd.reset();
        } else if (errno == EINTR) {
            continue;
        } else {
            if (errno != EAGAIN)
                fd.reset();
            return;
        }
    }
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

// Kills every process of the child's group (the child leads it) and reaps
// them. For the time of the clean-up this process becomes a child
// subreaper, so that members whose parent dies first are handed to us rather
// than to an init that may never reap them.
void killAndReapGroup(pid_t group, bool leaderReaped)
{
    int wasSubreaper = 0;
    ::prctl(PR_GET_CHILD_SUBREAPER, &wasSubreaper);
    if (!wasSubreaper)
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    ::kill(-group, SIGKILL);
    if (!leaderReaped)
        while (::waitpid(group, nullptr, 0) < 0 && errno == EINTR) {
        }

    QDeadlineTimer deadline(5000);
    while (true) {
        while (::waitpid(-group, nullptr, WNOHANG) > 0) {
        }
        if (!groupHasMembersToWaitFor(group) || deadline.hasExpired())
            break;
        ::kill(-group, SIGKILL); // members forked while the first signal travelled
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    if (!wasSubreaper)
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// Starts the child without copying this process's memory map (posix_spawn
// shares it until exec), which matters in a large caller such as a Python
// interpreter: a fork costs about a millisecond more there.
pid_t spawn(const QString& program, const QStringList& arguments, int input, int output, int error)
{
    std::vector<QByteArray> words;
    words.reserve(static_cast<size_t>(arguments.size()) + 1);
    words.push_back(QFile::encodeName(program));
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, error, STDERR_FILENO);

    // A group of its own; no blocked signals, and every signal back to its
    // default (callers such as Python ignore SIGPIPE, which would otherwise
    // reach the pipeline's commands).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);

    pid_t pid = 0;
    const int failed = program.contains(QLatin1Char('/'))
        ? ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ)
        : ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? 0 : pid;
}

} // namespace

ChildProcess::Result ChildProcess::run(const QString& program, const QStringList& arguments,
                                       int timeoutMs)
{
    Result result;
    if (holdsNul(program) || std::any_of(arguments.cbegin(), arguments.cend(), holdsNul))
        return result;

    Pipe input;
    Pipe output;
    Pipe error;
    if (!input.open() || !output.open() || !error.open())
        return result;
    const QDeadlineTimer deadline(timeoutMs);
    const pid_t pid = spawn(program, arguments, input.read.get(), output.write.get(), error.write.get());
    // Nothing is ever written to the child: its input ends at once.
    input.read.reset();
    input.write.reset();
    output.write.reset();
    error.write.reset();
    if (pid <= 0)
        return result;

    // Readable once the child has ended (glibc's header lacks C linkage).
    Descriptor exitNotifier(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    int status = 0;
    bool exited = false;
    while (!exited) {
        const int remaining = static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1 << 30));
        if (remaining == 0)
            break;
        pollfd watched[3] = {{output.read.get(), POLLIN, 0}, {error.read.get(), POLLIN, 0}, {exitNotifier.get(), POLLIN, 0}};
        // Without a pidfd (old kernels) look at the child every few milliseconds.
        const int ready = ::poll(watched, 3, exitNotifier.isOpen() ? remaining : std::min(remaining, 5));
        if (ready < 0 && errno != EINTR)
            break;
        if (watched[0].revents)
            readAvailable(output.read, result.standardOutput, false);
        if (watched[1].revents)
            readAvailable(error.read, result.standardError, false);
        if (watched[2].revents || !exitNotifier.isOpen()) {
            const pid_t waited = ::waitpid(pid, &status, exitNotifier.isOpen() ? 0 : WNOHANG);
            exited = waited == pid;
        }
    }

    // What the child wrote before it ended is still in the pipes.
    for (Descriptor* fd : {&output.read, &error.read})
        if (fd->isOpen())
            ::fcntl(fd->get(), F_SETFL, ::fcntl(fd->get(), F_GETFL) | O_NONBLOCK);
    if (exited && WIFEXITED(status)) {
        readAvailable(output.read, result.standardOutput, true);
        readAvailable(error.read, result.standardError, true);
        result.succeeded = true;
        // Nothing the child started may outlive the call, not even a
        // background job; normally the group is already empty.
        if (::kill(-pid, 0) == 0)
            killAndReapGroup(pid, true);
        return result;
    }

    killAndReapGroup(pid, exited);
    readAvailable(error.read, result.standardError, true);
    result.standardOutput.clear();
    return result;
}

ChildProcess::Result ChildProcess::runShell(const QString& commandLine, int timeoutMs)
{
    return run(QStringLiteral("/usr/bin/bash"), {QStringLiteral("-c"), commandLine}, timeoutMs);
}
