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
 *
 * Standard C++ only: the launcher of orvel-update-check reads requests
 * with it before Qt or the checks library is loaded.
 */
class AptHookRequest
{
public:
    struct Action {
        std::string package;
        std::string oldVersion;
        std::string newVersion;
        /// The .deb file to unpack, "**CONFIGURE**" or "**REMOVE**".
        std::string action;

        /// True when the action unpacks a package: installs or upgrades it.
        bool unpacks() const;
    };

    /// The most of a request that is read; apt sends some kilobytes.
    static constexpr size_t LimitBytes = 16 * 1024 * 1024;

    /**
     * Reads a whole request. Anything else (another protocol version, a
     * request cut short, a line of the wrong shape) gives no request and a
     * sentence in @p error saying what is wrong.
     */
    static std::optional<AptHookRequest> parse(const std::string& input, std::string* error);
    /**
     * Reads a whole request from @p fd (its raw text into @p raw, when
     * given). When it cannot be read (more than LimitBytes, a read error)
     * or parsed, writes the guard's refusal to standard error instead and
     * gives no request.
     */
    static std::optional<AptHookRequest> receive(int fd, std::string* raw = nullptr);
    /// Writes the guard's refusal, for @p why, to standard error.
    static void refuse(const std::string& why);

    int version() const { return m_version; }
    /// The last value of @p key in apt's configuration, or @p fallback.
    std::string value(const std::string& key, const std::string& fallback = std::string()) const;
    /// Whether @p key holds one of apt's words for false ("false", "no",
    /// "off", "disable", "without", "0", in any case); absent or any other
    /// text is true.
    bool isFalse(const std::string& key) const;
    const std::vector<Action>& actions() const { return m_actions; }

    /// True when some action unpacks @p package, or any package when
    /// @p package is empty.
    bool unpacks(const std::string& package = std::string()) const;

    /// The guard's scope (Orvel::Update-Guard::Scope): "all" by default.
    std::string scope() const;
    bool scopeIsKnown() const;
    /// The guard was switched off for this run (Orvel::Update-Guard=false).
    bool guardIsOff() const;
    /**
     * True when the guard has nothing to do and nothing to say: its package
     * was removed (Orvel::Update-Guard::Enabled-By names a file that is
     * gone), or the run installs or upgrades nothing in the guard's scope.
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
