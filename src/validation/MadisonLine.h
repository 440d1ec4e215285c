// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QString>
#include <QStringView>

#include <optional>

/**
 * One line of "apt-cache madison": "package | version | source dist type",
 * the fields padded with spaces. The one reader of madison's lines, for
 * the checks and for the package-manager stand-in.
 */
struct MadisonLine {
    /// As madison prints it: with ":architecture" for a foreign one.
    QString package;
    QString version;
    /// The source's URL: the third field up to its first space.
    QString source;
    /// The package file's "URL dist": the third field's first two words
    /// ("file:/srv/debian stable/main"), the source as apt's sources list
    /// configures it.
    QString packageFile;

    /// The package's name without its architecture.
    QString name() const { return package.left(package.indexOf(QLatin1Char(':'))); }

    /// The URL of apt's name of a package file ("URL dist arch Packages",
    /// as madison and the policy print it): its first word. A URL holds no
    /// space, but may hold "|".
    static QString urlOf(QStringView description);
    /// Its "URL dist": the source as apt's sources list configures it.
    static QString packageFileOf(QStringView description);

    /// The line's fields, trimmed; no value for a line of another shape
    /// (fewer than three fields, an empty line).
    static std::optional<MadisonLine> parse(QStringView line);
};
