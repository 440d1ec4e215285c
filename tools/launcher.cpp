// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

// orvel-update-check, the launcher: starts the tool proper
// (orvel-update-check-tool.cpp). As apt's
// pre-install hook it first reads apt's request itself: the many apt runs
// that the guard has nothing to check in (removals, configuration, runs
// outside its scope) get their answer at once, without loading Qt and the
// checks library, which would cost some milliseconds on every such run.

#include "AptHookRequest.h"
#include "GuardMessages.h"
#include "ExitStatus.h"
#include "Translation.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <optional>
#include <string>

#include "MetricsFile.h"
#include "PrometheusText.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The tool proper, relative to this program: the same in the build tree and
// where both are installed. Without /proc, the path it was started by.
std::string mainProgram(const char* startedAs)
{
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self);
    const std::string path = length > 0 && length < static_cast<ssize_t>(sizeof self)
        ? std::string(self, static_cast<size_t>(length))
        : std::string(startedAs);
    return path.substr(0, path.rfind('/') + 1) + ORVEL_UPDATE_CHECK_MAIN;
}

// Makes @p request the standard input that the tool proper reads again.
bool handOn(const std::string& request)
{
    const int fd = ::memfd_create("apt-hook-request", 0);
    if (fd < 0)
        return false;
    bool written = true;
    for (size_t done = 0; written && done < request.size();) {
        const ssize_t count = ::write(fd, request.data() + done, request.size() - done);
        if (count > 0)
            done += static_cast<size_t>(count);
        else
            written = count < 0 && errno == EINTR;
    }
    const bool handedOn = written && ::lseek(fd, 0, SEEK_SET) == 0 && ::dup2(fd, STDIN_FILENO) == STDIN_FILENO;
    if (fd != STDIN_FILENO)
        ::close(fd);
    return handedOn;
}

// The file of "--metrics-file FILE" or "--metrics-file=FILE" among the
// options (before "--"), or empty.
std::string metricsFileArgument(int argc, char** argv)
{
    const std::string option = "--metrics-file";
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (argv[i] == option && i + 1 < argc)
            return argv[i + 1];
        if (std::strncmp(argv[i], "--metrics-file=", option.size() + 1) == 0)
            return argv[i] + option.size() + 1;
    }
    return std::string();
}

// For --metrics-file: runs the tool proper and waits for it. When it could
// not start, died or ended without a verdict (a usage error), the metrics
// say that nothing was checked, through the same safe writer, so that no
// earlier verdict stands for this run. An output error is the tool's own:
// it has removed the old verdict already, or said that it could not.
int runPublishingMetrics(const std::string& program, char** argv, const std::string& metrics)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::execv(program.c_str(), argv);
        ::_exit(127);
    }
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    const bool verdict = child > 0 && WIFEXITED(status)
        && (WEXITSTATUS(status) == UpdateAllowed || WEXITSTATUS(status) == UpdateRefused
            || WEXITSTATUS(status) == OutputError);
    if (verdict)
        return WEXITSTATUS(status);
    const bool started = child > 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
    std::string error;
    const std::unique_ptr<MetricsFile> file = MetricsFile::open(metrics, &error);
    const bool published = file && file->publish(PrometheusText::unchecked(), &error);
    std::fprintf(stderr, "orvel-update-check: %s; %s\n",
                 started ? "the checks ended without a verdict" : ("cannot run " + program).c_str(),
                 published ? "the metrics say that nothing was checked" : ("and " + error).c_str());
    if (!started)
        return CannotStart;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char** argv)
{
    const bool hook = argc == 2 && std::strcmp(argv[1], "--apt-hook") == 0;
    if (hook) {
        Translation::init(ORVEL_LOCALE_FROM_PROGRAM);
        std::string raw;
        std::string error;
        const int input = AptHookRequest::inputDescriptor(&error);
        if (input < 0) {
            GuardMessages::refuse(": " + error);
            return UpdateRefused;
        }
        const std::optional<AptHookRequest> request = AptHookRequest::receive(input, &error, &raw);
        if (!request) {
            GuardMessages::refuse(": " + error);
            return UpdateRefused;
        }
        if (request->guardHasNothingToDo())
            return UpdateAllowed;
        // The tool proper reads the request from its standard input.
        if (!handOn(raw) || ::unsetenv("APT_HOOK_INFO_FD") != 0) {
            GuardMessages::refuse(": the request from apt could not be handed to the checks");
            return UpdateRefused;
        }
    }
    const std::string program = mainProgram(argv[0]);
    const std::string metrics = hook ? std::string() : metricsFileArgument(argc, argv);
    if (!metrics.empty())
        return runPublishingMetrics(program, argv, metrics);
    ::execv(program.c_str(), argv);
    const std::string why = "cannot start " + program + ": " + std::strerror(errno);
    if (!hook) {
        std::fprintf(stderr, "orvel-update-check: %s\n", why.c_str());
        return CannotStart;
    }
    // As apt's hook, a guard that cannot look refuses.
    GuardMessages::refuse(": the checks did not run: " + why);
    return UpdateRefused;
}
