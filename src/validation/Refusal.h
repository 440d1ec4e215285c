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
 * "hotfix-not-allowed" (check "hotfix"), "versions-unknown" (either check)
 * when apt could not say which versions are offered, and
 * "installed-version-unknown" (check "linear") when the installed release
 * could not be read or has fewer than three components. The last two name
 * no version and no source.
 */
struct Refusal {
    /// "linear" or "hotfix".
    QString check;
    QString rule;
    /// The refused version; empty for "versions-unknown" and
    /// "installed-version-unknown".
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

    /// What a person reads as the refusal's title: the version, or what a
    /// refusal without one is about.
    QString subject() const
    {
        if (!version.isEmpty())
            return version;
        return rule == QLatin1String("installed-version-unknown") ? QStringLiteral("installed release unknown")
                                                                  : QStringLiteral("versions unknown");
    }

    bool operator==(const Refusal& other) const
    {
        return check == other.check && rule == other.rule && version == other.version
            && installed == other.installed && sources == other.sources && message == other.message
            && sourcesKnown == other.sourcesKnown;
    }
    bool operator!=(const Refusal& other) const { return !(*this == other); }
};
