// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

/**
 * What apt sends to a DPkg::Pre-Install-Pkgs hook of protocol version 2 or 3
 * on its standard input: "VERSION n", apt's configuration as percent-encoded
 * "key=value" lines (list items as "key::=value"), a blank line, then one
 * line per package action: name, old version, "<", ">" or "=", new version
 * (each version followed by its architecture and multi-arch type in version
 * 3), and the action: a .deb to unpack, "**CONFIGURE**" or "**REMOVE**".
 * apt writes it to standard input, or to the descriptor of its InfoFD
 * option.
 *
 * Standard C++ only: the launcher of orvel-update-check reads requests
 * with it before Qt or the checks library is loaded. It reads and parses;
 * GuardMessages says what the guard decided, SystemLog logs it.
 */
class AptHookRequest
{
public:
    struct Action {
        std::string package;
        std::string oldVersion;
        std::string newVersion;
        /// The new version's architecture (protocol version 3; else empty).
        std::string newArchitecture;
        /// The .deb file to unpack, "**CONFIGURE**" or "**REMOVE**".
        std::string action;

        /// True when the action unpacks a package: installs or upgrades it.
        bool unpacks() const;
    };

    /// The most of a request that is read; apt sends some kilobytes.
    static constexpr size_t LimitBytes = 16 * 1024 * 1024;

    /**
     * Reads a whole request. Anything else (another protocol version, a
     * request cut short, a line of the wrong shape, an unpack of
     * orvel-version without a new version or an absolute .deb path) gives
     * no request and a sentence in @p error saying what is wrong.
     */
    static std::optional<AptHookRequest> parse(const std::string& input, std::string* error);
    /**
     * Reads a whole request from @p fd (its raw text into @p raw, when
     * given). When it cannot be read (more than LimitBytes, a read error)
     * or parsed, gives no request and a sentence in @p error.
     */
    static std::optional<AptHookRequest> receive(int fd, std::string* error, std::string* raw = nullptr);
    /**
     * The descriptor that apt writes its request to: the one that
     * APT_HOOK_INFO_FD names (apt's InfoFD option) or else standard input.
     * A value of APT_HOOK_INFO_FD that is no number of an open, readable
     * descriptor gives -1 and a sentence in @p error.
     */
    static int inputDescriptor(std::string* error);

    int version() const { return m_version; }
    /// The last value of @p key in apt's configuration, or @p fallback.
    /// Keys are compared as apt compares them: ASCII letters in any case.
    std::string value(const std::string& key, const std::string& fallback = std::string()) const;
    /// Whether @p key holds one of apt's words for false ("false", "no",
    /// "off", "disable", "without", "0", in any case); absent or any other
    /// text is true.
    bool isFalse(const std::string& key) const;
    const std::vector<Action>& actions() const { return m_actions; }
    /// apt's configuration as the request gives it, decoded, in its order.
    const std::vector<std::pair<std::string, std::string>>& configuration() const { return m_configuration; }

    /// True when some action unpacks a package.
    bool unpacksAny() const;

    /// The guard's scope (Orvel::Update-Guard::Scope): "sources" by default.
    std::string scope() const;
    bool scopeIsKnown() const;
    /// The guard was switched off for this run (Orvel::Update-Guard=false).
    bool guardIsOff() const;
    /// The file that Orvel::Update-Guard::Enabled-By names, when it is
    /// missing (the guard's package was removed, its configuration left
    /// behind); else empty. Any other stat error keeps the guard on.
    std::string missingSwitchFile() const;
    /**
     * True when the guard has nothing to do and nothing to say: it is on,
     * and the run installs or upgrades nothing. (Under either scope: any
     * archive may be or provide orvel-version, whatever its name, and only
     * the archive itself can tell.)
     */
    bool guardHasNothingToDo() const;

    /**
     * The "-o key=value" arguments that make apt-cache see the sources of
     * this apt run: the Dir tree and the architectures, as apt had them
     * (options of its command line included).
     */
    std::vector<std::string> aptArguments() const;

private:
    int m_version = 0;
    std::vector<std::pair<std::string, std::string>> m_configuration;
    std::vector<Action> m_actions;
};
