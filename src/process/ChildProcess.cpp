#include "ChildProcess.h"

#include <QDeadlineTimer>
#include <QProcess>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

class GroupLeaderProcess : public QProcess
{
protected:
    // Runs in the forked child before exec.
    void setupChildProcess() override { ::setpgid(0, 0); }
};

bool holdsNul(const QString& text)
{
    return text.contains(QChar(0));
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

// Kills every process of the child's group and reaps them. For the time of
// the clean-up this process becomes a child subreaper, so that members whose
// parent dies first are handed to us rather than to an init that may never
// reap them.
void killAndReapGroup(pid_t group, QProcess& leader)
{
    int wasSubreaper = 0;
    ::prctl(PR_GET_CHILD_SUBREAPER, &wasSubreaper);
    if (!wasSubreaper)
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    ::kill(-group, SIGKILL);
    // The leader is QProcess's own child: let QProcess reap it.
    if (leader.state() != QProcess::NotRunning)
        leader.waitForFinished(5000);

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

} // namespace

ChildProcess::Result ChildProcess::run(const QString& program, const QStringList& arguments,
                                       int timeoutMs)
{
    Result result;
    if (holdsNul(program) || std::any_of(arguments.cbegin(), arguments.cend(), holdsNul))
        return result;

    GroupLeaderProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.start(QIODevice::ReadWrite);
    const auto group = static_cast<pid_t>(process.processId());
    // Nothing is ever written to the child; a child that reads its input
    // sees the end at once instead of waiting for the time limit.
    process.closeWriteChannel();

    const bool finished = process.waitForFinished(timeoutMs);
    if (finished && process.exitStatus() == QProcess::NormalExit) {
        result.succeeded = true;
        result.standardOutput = process.readAllStandardOutput();
        result.standardError = process.readAllStandardError();
        return result;
    }
    if (group > 0)
        killAndReapGroup(group, process);
    result.standardError = process.readAllStandardError();
    return result;
}

ChildProcess::Result ChildProcess::runShell(const QString& commandLine, int timeoutMs)
{
    return run(QStringLiteral("/usr/bin/bash"), {QStringLiteral("-c"), commandLine}, timeoutMs);
}
