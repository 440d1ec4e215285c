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

#include <sys/mman.h>
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
