// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include "ScopedEnvironment.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

/**
 * A real, offline apt world in a temporary directory, made by the
 * make-apt-world script, and active for the lifetime of the object:
 * APT_CONFIG and ORVEL_SYSROOT point at it, so apt-cache and the
 * system-version stand-in see only it.
 */
class AptWorld
{
public:
    struct Repo {
        QString name;
        /// Release version, shown by "apt-cache policy" as "release v=...".
        QString release;
        /// Package versions of orvel-version, e.g. "1.0+v1.7.5.16".
        QStringList packageVersions;
        /// Label field of the Release file; none when empty.
        QString label = QString();
    };

    /// @p installed "-" writes no version file. Throws std::runtime_error
    /// when the world cannot be built.
    AptWorld(const QString& installed, const QVector<Repo>& repos);

    QString directory() const;
    /// Source URL of a repository as apt reports it.
    QString url(const QString& repoName) const;
    /// The world's apt configuration file and sources list.
    QString aptConfig() const;
    /// Adds the line "deb this-line-is-malformed" to the sources list, on
    /// which every apt-cache command fails.
    void breakSourcesList() const;

    /// Path of the builder script.
    static QString builder();

private:
    QTemporaryDir m_dir;
    ScopedEnvironment m_environment;
};
