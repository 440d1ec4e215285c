// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QString>
#include <QStringList>

/**
 * Why a check refused one offered version: the reason behind a false
 * verdict, for callers that must show it to a person.
 *
 * The rule names are part of the interface and do not change:
 * "major-version-changed" and "design-version-changed" (check "linear"),
 * "hotfix-not-allowed" (check "hotfix"), and "versions-unknown" (either
 * check) when apt could not say which versions are offered; that refusal
 * names no version and no source.
 */
struct Refusal {
    /// "linear" or "hotfix".
    QString check;
    QString rule;
    /// The refused version; empty for "versions-unknown".
    QString version;
    /// The installed version it was judged against.
    QString installed;
    /// The sources (repository URLs) that offer the version, sorted, each once.
    QStringList sources;
    /// One line for a person, naming the versions.
    QString message;
    /// False when apt could not list which sources offer what: sources is
    /// then empty although some source does offer the version.
    bool sourcesKnown = true;

    bool operator==(const Refusal& other) const
    {
        return check == other.check && rule == other.rule && version == other.version
            && installed == other.installed && sources == other.sources && message == other.message
            && sourcesKnown == other.sourcesKnown;
    }
    bool operator!=(const Refusal& other) const { return !(*this == other); }
};
