// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "ProcessGroup.h"

#include "RawSyscall.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ProcessEntry {
    pid_t pid;
    char state;
    pid_t parent;
    pid_t group;
};

bool parseNumber(const char*& text, const char* end, long& value)
{
    bool negative = text < end && *text == '-';
    if (negative)
        ++text;
    const char* start = text;
    value = 0;
    while (text < end && *text >= '0' && *text <= '9')
        value = value * 10 + (*text++ - '0');
    if (negative)
        value = -value;
    return text > start;
}

// Reads "pid (comm) state ppid pgrp ..." from /proc/PID/stat; comm may hold
// anything, so the fields are read from its last closing parenthesis.
bool readEntry(int procFd, const char* name, ProcessEntry& entry)
{
    char path[32];
    int length = 0;
    for (const char* c = name; *c && length < 20; ++c)
        path[length++] = *c;
    for (const char* c = "/stat"; *c; ++c)
        path[length++] = *c;
    path[length] = '\0';
    const int fd = ::openat(procFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[512];
    ssize_t count;
    do
        count = ::read(fd, buffer, sizeof buffer);
    while (count < 0 && errno == EINTR);
    ::close(fd);
    if (count <= 0)
        return false;
    const char* end = buffer + count;
    const char* text = end;
    while (text > buffer && text[-1] != ')')
        --text;
    if (text == buffer || end - text < 4)
        return false;
    long parent = 0;
    long group = 0;
    long pid = 0;
    const char* pidText = buffer;
    entry.state = text[1];
    text += 3;
    if (!parseNumber(pidText, end, pid) || !parseNumber(text, end, parent) || text >= end || *text++ != ' '
        || !parseNumber(text, end, group))
        return false;
    entry.pid = static_cast<pid_t>(pid);
    entry.parent = static_cast<pid_t>(parent);
    entry.group = static_cast<pid_t>(group);
    return true;
}

// Calls @p visit for every process in /proc until it returns false. False
// when /proc cannot be read.
template <typename Visit> bool forEachProcess(Visit visit)
{
    const int proc = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0)
        return false;
    RawSyscall::forEachDirectoryEntry(proc, [proc, &visit](const char* name) {
        ProcessEntry entry;
        return !(*name >= '1' && *name <= '9' && readEntry(proc, name, entry)) || visit(entry);
    });
    ::close(proc);
    return true;
}

bool targetHolds(pid_t target, const ProcessEntry& entry)
{
    return target < 0 ? entry.group == -target : entry.pid == target;
}

// True while some target process is alive, or dead and ours to reap. Dead
// processes of another parent are not waited for: we could not reap them.
bool anyLeft(const pid_t* targets, int count)
{
    const pid_t self = ::getpid();
    bool found = false;
    const bool scanned = forEachProcess([&](const ProcessEntry& entry) {
        for (int i = 0; i < count && !found; ++i)
            found = targetHolds(targets[i], entry) && (entry.state != 'Z' || entry.parent == self);
        return !found;
    });
    if (scanned)
        return found;
    for (int i = 0; i < count; ++i)
        if (::kill(targets[i], 0) == 0)
            return true;
    return false;
}

long nowMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

void sleepMs(long ms)
{
    const timespec pause{0, ms * 1000000L};
    ::nanosleep(&pause, nullptr);
}

} // namespace

bool ProcessGroup::end(const pid_t* targets, int count, pid_t watched)
{
    const int savedErrno = errno;
    int wasSubreaper = 0;
    ::prctl(PR_GET_CHILD_SUBREAPER, &wasSubreaper);
    if (!wasSubreaper)
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    bool watchedReaped = false;
    int signal = SIGTERM;
    long deadline = nowMs() + TerminationGraceMs;
    long pause = 1;
    while (true) {
        // Also members forked while the previous signal travelled.
        for (int i = 0; i < count; ++i)
            ::kill(targets[i], signal);
        for (int i = 0; i < count; ++i) {
            pid_t reaped;
            // __WALL: a supervisor has no exit signal.
            while ((reaped = ::waitpid(targets[i], nullptr, WNOHANG | __WALL)) > 0)
                watchedReaped = watchedReaped || reaped == watched;
        }
        if (!anyLeft(targets, count))
            break;
        if (nowMs() >= deadline) {
            if (signal == SIGKILL)
                break;
            signal = SIGKILL;
            deadline = nowMs() + KillGraceMs;
            continue;
        }
        sleepMs(pause);
        pause = pause < 16 ? pause * 2 : 16;
    }

    if (!wasSubreaper)
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    errno = savedErrno;
    return watchedReaped;
}

// One table for the whole process, although this helper is linked into
// more than one of its files (the tool, the checks library, the package
// manager stand-in): an inline variable of default visibility is a unique
// symbol, of which the dynamic linker keeps one copy for every file, loaded
// with RTLD_LOCAL or not. Lock-free, so that a signal handler may read it
// while a thread writes.
namespace OrvelChildProcess {
__attribute__((visibility("default"))) inline std::atomic<pid_t> startedGroups[ProcessGroup::TrackedCapacity];
}
static_assert(std::atomic<pid_t>::is_always_lock_free, "the groups are read in signal handlers");

namespace {
auto& trackedGroups = OrvelChildProcess::startedGroups;
}

bool ProcessGroup::track(pid_t group)
{
    for (std::atomic<pid_t>& slot : trackedGroups) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, group))
            return true;
    }
    return false;
}

void ProcessGroup::forget(pid_t group)
{
    for (std::atomic<pid_t>& slot : trackedGroups) {
        pid_t expected = group;
        if (slot.compare_exchange_strong(expected, 0))
            return;
    }
}

void ProcessGroup::endStarted()
{
    pid_t targets[TrackedCapacity];
    int count = 0;
    for (const std::atomic<pid_t>& slot : trackedGroups)
        if (const pid_t group = slot.load())
            targets[count++] = -group;
    end(targets, count);
}
