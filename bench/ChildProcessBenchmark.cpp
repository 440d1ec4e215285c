// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

// What one child process costs a large caller: started by ChildProcess
// (through its supervisor), on this kernel and as on a kernel without
// pidfds and close_range (simulated with a seccomp filter in a forked copy
// of this process), beside the floor of posix_spawn and waitpid. Rounds
// interleave the three.
//
//     child_process_benchmark [ROUNDS] [CALLER_MIB]

#include "ChildProcess.h"
#include "OldKernel.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int ChildrenPerBatch = 20;

// Milliseconds per child over one batch; negative when a run failed.
double batch()
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < ChildrenPerBatch; ++i)
        if (!ChildProcess::run(QStringLiteral("/bin/true"), {}).exitedCleanly())
            return -1;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count()
        / ChildrenPerBatch;
}

// The floor: the C library's own spawn of the same program.
double spawnBatch()
{
    char program[] = "/bin/true";
    char* const argv[] = {program, nullptr};
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < ChildrenPerBatch; ++i) {
        pid_t pid;
        int status = 0;
        if (::posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0 || ::waitpid(pid, &status, 0) != pid
            || status != 0)
            return -1;
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count()
        / ChildrenPerBatch;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool readAll(int fd, void* into, size_t size)
{
    return ::read(fd, into, size) == static_cast<ssize_t>(size);
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 31;
    const size_t callerMiB = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
    // A caller the size of a Python interpreter with its libraries and data.
    std::vector<char> ballast(callerMiB << 20);
    for (size_t i = 0; i < ballast.size(); i += 4096)
        ballast[i] = 1;

    int request[2];
    int answer[2];
    if (::pipe(request) != 0 || ::pipe(answer) != 0)
        return 1;
    const pid_t oldKernel = ::fork();
    if (oldKernel == 0) {
        ::close(request[1]);
        ::close(answer[0]);
        double result = OldKernel::simulate() ? 0 : -1;
        char go;
        while (readAll(request[0], &go, 1)) {
            if (result >= 0)
                result = batch();
            if (::write(answer[1], &result, sizeof result) != sizeof result)
                break;
        }
        std::_Exit(0);
    }
    ::close(request[0]);
    ::close(answer[1]);

    std::vector<double> spawned;
    std::vector<double> supervised;
    std::vector<double> old;
    bool failed = false;
    for (int round = 0; round < rounds && !failed; ++round) {
        spawned.push_back(spawnBatch());
        supervised.push_back(batch());
        double perChild = -1;
        failed = ::write(request[1], "g", 1) != 1 || !readAll(answer[0], &perChild, sizeof perChild);
        old.push_back(perChild);
        failed = failed || std::min({spawned.back(), supervised.back(), perChild}) < 0;
    }
    ::close(request[1]);
    ::waitpid(oldKernel, nullptr, 0);
    if (failed) {
        std::fprintf(stderr, "child_process_benchmark: a run failed\n");
        return 1;
    }
    std::printf("per child (/bin/true) from a %zu MiB caller, median of %d rounds of %d:\n", callerMiB, rounds,
                ChildrenPerBatch);
    std::printf("  posix_spawn and waitpid (the floor)                %6.3f ms\n", median(spawned));
    std::printf("  ChildProcess, through its supervisor               %6.3f ms\n", median(supervised));
    std::printf("  ChildProcess, kernel without close_range (< 5.9)   %6.3f ms\n", median(old));
    return 0;
}
