// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptHookRequest.h"

#include "Translation.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include <climits>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

namespace {

const std::string guardKey = "Orvel::Update-Guard";
const std::string versionPackage = "orvel-version";

void ignoreAlarm(int) {}

std::string percentDecoded(const std::string& text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))
            && std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool isSourceSetting(const std::string& key)
{
    return key == "Dir" || startsWith(key, "Dir::") || key == "APT::Architecture" || key == "APT::Architectures"
        || key == "APT::Architectures::";
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end = text.find(separator); end != std::string::npos; end = text.find(separator, start)) {
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

} // namespace

bool AptHookRequest::Action::unpacks() const
{
    return action != "**CONFIGURE**" && action != "**REMOVE**";
}

std::optional<AptHookRequest> AptHookRequest::parse(const std::string& input, std::string* error)
{
    const auto failure = [error](const std::string& why) -> std::optional<AptHookRequest> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (!startsWith(input, "VERSION "))
        return failure("apt did not say which hook protocol it speaks (version 1 sends bare file names); "
                       "set DPkg::Tools::Options::<this command>::Version \"3\"");
    if (input.back() != '\n')
        return failure("the request from apt ends in the middle of a line");

    const std::vector<std::string> lines = split(input.substr(0, input.size() - 1), '\n');
    AptHookRequest request;
    const std::string version = lines.front().substr(8);
    if (version != "2" && version != "3")
        return failure("apt speaks hook protocol version " + version.substr(0, 20)
                       + "; only versions 2 and 3 are understood");
    request.m_version = version == "3" ? 3 : 2;

    size_t line = 1;
    for (; line < lines.size() && !lines[line].empty(); ++line) {
        const size_t equals = lines[line].find('=');
        if (equals == 0 || equals == std::string::npos)
            return failure("line " + std::to_string(line + 1) + " of the request from apt is no configuration line");
        request.m_configuration.emplace_back(percentDecoded(lines[line].substr(0, equals)),
                                             percentDecoded(lines[line].substr(equals + 1)));
    }
    if (line == lines.size())
        return failure("the request from apt ends before its configuration does");

    // name, old version, [arch, multi-arch,] comparison, new version, [arch,
    // multi-arch,] action; the action (a file name) is the rest of the line.
    const size_t fields = request.m_version == 3 ? 9 : 5;
    const size_t comparison = request.m_version == 3 ? 4 : 2;
    for (++line; line < lines.size(); ++line) {
        const std::string& text = lines[line];
        std::vector<std::string> words;
        size_t start = 0;
        for (size_t space = text.find(' '); space != std::string::npos && words.size() < fields - 1;
             space = text.find(' ', start)) {
            words.push_back(text.substr(start, space - start));
            start = space + 1;
        }
        const std::string action = text.substr(start);
        const bool shaped = words.size() == fields - 1 && !action.empty()
            && (words[comparison] == "<" || words[comparison] == ">" || words[comparison] == "=");
        if (!shaped)
            return failure("line " + std::to_string(line + 1) + " of the request from apt is no package action");
        const Action parsedAction{words[0], words[1], words[comparison + 1],
                                  request.m_version == 3 ? words[comparison + 2] : std::string(), action};
        // The guard judges the version this line installs, from the file it
        // names: a line without them cannot be judged.
        if (parsedAction.package == versionPackage && parsedAction.unpacks()
            && (parsedAction.newVersion.empty() || parsedAction.newVersion == "-" || action.front() != '/'))
            return failure("line " + std::to_string(line + 1) + " of the request from apt installs " + versionPackage
                           + " without naming its version and file");
        request.m_actions.push_back(parsedAction);
    }
    if (request.m_actions.empty())
        return failure("the request from apt lists no package action");
    return request;
}

std::optional<AptHookRequest> AptHookRequest::receive(int fd, std::string* raw)
{
    std::string input;
    char buffer[65536];
    for (ssize_t count = 1; count != 0;) {
        count = ::read(fd, buffer, sizeof buffer);
        if (count > 0 && input.size() + static_cast<size_t>(count) <= LimitBytes) {
            input.append(buffer, static_cast<size_t>(count));
        } else if (count > 0 || (count < 0 && errno != EINTR)) {
            refuse(": the request from apt could not be read whole");
            return std::nullopt;
        }
    }
    std::string error;
    std::optional<AptHookRequest> request = parse(input, &error);
    if (!request)
        refuse(": " + error);
    else if (raw)
        *raw = std::move(input);
    return request;
}

int AptHookRequest::inputDescriptor(std::string* error)
{
    const char* named = std::getenv("APT_HOOK_INFO_FD");
    if (!named)
        return STDIN_FILENO;
    const std::string text = named;
    errno = 0;
    char* end = nullptr;
    const long number = text.empty() || !std::isdigit(static_cast<unsigned char>(text.front()))
        ? -1
        : std::strtol(text.c_str(), &end, 10);
    const bool isNumber = number >= 0 && errno == 0 && end && *end == '\0' && number <= INT_MAX;
    const int flags = isNumber ? ::fcntl(static_cast<int>(number), F_GETFL) : -1;
    if (flags != -1 && (flags & O_ACCMODE) != O_WRONLY)
        return static_cast<int>(number);
    if (error)
        *error = "APT_HOOK_INFO_FD is \"" + text.substr(0, 20) + "\", which names no descriptor open for reading: "
            + "apt's request cannot be read";
    return -1;
}

void AptHookRequest::refuse(const std::string& why, const std::vector<std::string>& logLines, const std::string& remedy)
{
    using Translation::text;
    std::string message = text("orvel-update-check: the update is refused");
    message += why + "\n  ";
    message += remedy.empty() ? text("To keep the gate: put right what is named above, then run apt again.") : remedy;
    message += "\n  ";
    message += text("To install it anyway, this once: add -o Orvel::Update-Guard=false to the apt command line,\n"
                    "  or, where the front end has none (unattended-upgrade, PackageKit), put the line\n"
                    "    Orvel::Update-Guard \"false\";\n"
                    "  in a file under /etc/apt/apt.conf.d/, and remove that file afterwards.");
    message += "\n";
    std::fputs(message.c_str(), stderr);
    if (logLines.empty()) {
        std::string line = "update refused" + why;
        std::replace(line.begin(), line.end(), '\n', ' ');
        systemLog(LOG_WARNING, line);
    }
    for (const std::string& line : logLines)
        systemLog(LOG_WARNING, line);
}

void AptHookRequest::refuseConfiguration(const std::string& why)
{
    std::string message = Translation::text("orvel-update-check: the update guard is set up wrongly, so this apt run "
                                            "is stopped:");
    message += "\n  " + why + "\n  ";
    message += Translation::text("Correct the setting where it is made (apt-config dump Orvel::Update-Guard shows "
                                 "the guard's settings), then run apt again.");
    message += "\n";
    std::fputs(message.c_str(), stderr);
    systemLog(LOG_WARNING, "update refused: the guard is set up wrongly: " + why);
}

void AptHookRequest::systemLog(int priority, const std::string& line)
{
    // syslog(3) waits while the log's queue is full, and tries a second
    // time when the first send fails: a stalled log daemon must not hold
    // apt. An alarm every second, without SA_RESTART, ends each wait.
    struct sigaction alarmAction = {};
    struct sigaction previous = {};
    alarmAction.sa_handler = ignoreAlarm;
    sigemptyset(&alarmAction.sa_mask);
    const bool bounded = ::sigaction(SIGALRM, &alarmAction, &previous) == 0;
    itimerval timer = {};
    timer.it_value.tv_sec = 1;
    timer.it_interval.tv_sec = 1;
    if (bounded)
        ::setitimer(ITIMER_REAL, &timer, nullptr);
    ::openlog("orvel-update-check", LOG_PID, LOG_USER);
    ::syslog(priority, "%s", line.c_str());
    ::closelog();
    if (bounded) {
        timer = {};
        ::setitimer(ITIMER_REAL, &timer, nullptr);
        ::sigaction(SIGALRM, &previous, nullptr);
    }
}

std::string AptHookRequest::value(const std::string& key, const std::string& fallback) const
{
    for (auto entry = m_configuration.crbegin(); entry != m_configuration.crend(); ++entry)
        if (entry->first == key)
            return entry->second;
    return fallback;
}

bool AptHookRequest::isFalse(const std::string& key) const
{
    std::string word = value(key);
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
    return word == "false" || word == "no" || word == "off" || word == "disable" || word == "without" || word == "0";
}

bool AptHookRequest::unpacksAny() const
{
    return std::any_of(m_actions.cbegin(), m_actions.cend(), [](const Action& action) { return action.unpacks(); });
}

std::string AptHookRequest::scope() const
{
    return value(guardKey + "::Scope", "sources");
}

bool AptHookRequest::scopeIsKnown() const
{
    return scope() == "sources" || scope() == "all" || scope() == "orvel-version";
}

bool AptHookRequest::guardIsOff() const
{
    return isFalse(guardKey);
}

std::string AptHookRequest::missingSwitchFile() const
{
    const std::string enabledBy = value(guardKey + "::Enabled-By");
    struct stat status;
    return !enabledBy.empty() && ::stat(enabledBy.c_str(), &status) != 0 && errno == ENOENT ? enabledBy
                                                                                          : std::string();
}

bool AptHookRequest::guardHasNothingToDo() const
{
    // Any package may come from a refused source, and any archive may take
    // over orvel-version: every install or upgrade is looked at.
    return !guardIsOff() && missingSwitchFile().empty() && scopeIsKnown() && !unpacksAny();
}

std::vector<std::string> AptHookRequest::aptArguments() const
{
    std::vector<std::string> arguments;
    for (const auto& setting : m_configuration)
        if (isSourceSetting(setting.first)) {
            arguments.push_back("-o");
            arguments.push_back(setting.first + '=' + setting.second);
        }
    return arguments;
}
