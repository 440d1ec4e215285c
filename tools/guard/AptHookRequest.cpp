// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptHookRequest.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string guardKey = "Orvel::Update-Guard";
const std::string versionPackage = "orvel-version";

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

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// apt's configuration keys are one key in any case of ASCII letters.
bool sameKey(const std::string& key, const std::string& other)
{
    return key.size() == other.size() && std::equal(key.cbegin(), key.cend(), other.cbegin(), [](char a, char b) {
               return asciiLower(a) == asciiLower(b);
           });
}

bool keyStartsWith(const std::string& key, const std::string& prefix)
{
    return key.size() >= prefix.size() && sameKey(key.substr(0, prefix.size()), prefix);
}

bool isSourceSetting(const std::string& key)
{
    return sameKey(key, "Dir") || keyStartsWith(key, "Dir::") || sameKey(key, "APT::Architecture")
        || sameKey(key, "APT::Architectures") || sameKey(key, "APT::Architectures::");
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

std::optional<AptHookRequest> AptHookRequest::receive(int fd, std::string* error, std::string* raw)
{
    std::string input;
    char buffer[65536];
    for (ssize_t count = 1; count != 0;) {
        count = ::read(fd, buffer, sizeof buffer);
        if (count > 0 && input.size() + static_cast<size_t>(count) <= LimitBytes) {
            input.append(buffer, static_cast<size_t>(count));
        } else if (count > 0 || (count < 0 && errno != EINTR)) {
            *error = "the request from apt could not be read whole";
            return std::nullopt;
        }
    }
    std::optional<AptHookRequest> request = parse(input, error);
    if (request && raw)
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
        *error = "APT_HOOK_INFO_FD is \"" + text.substr(0, 20)
            + "\", which names no descriptor open for reading: " + "apt's request cannot be read";
    return -1;
}

std::string AptHookRequest::value(const std::string& key, const std::string& fallback) const
{
    for (auto entry = m_configuration.crbegin(); entry != m_configuration.crend(); ++entry)
        if (sameKey(entry->first, key))
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
    return !enabledBy.empty() && ::stat(enabledBy.c_str(), &status) != 0 && errno == ENOENT ? enabledBy : std::string();
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
