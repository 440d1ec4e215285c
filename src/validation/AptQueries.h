// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QString>
#include <QStringList>

/**
 * The shell text of the checks' apt queries, which UpdateValidator runs
 * through bash: what is asked of apt, and how its answer is read and
 * judged before the library sees it. Internal to the library.
 */
class AptQueries
{
public:
    /**
     * The pipeline that prints "FILE<tab>RELEASE" for each package file
     * that apt's sources configuration describes and that apt has, FILE
     * being apt's name of it ("URL dist arch Packages", which holds no tab)
     * and RELEASE the Version of its Release file as apt reads it ("apt-get
     * indextargets"), up to its first line end; a file without one prints
     * nothing. Uses the bash array of argumentsArray().
     */
    static QString releases();
    /**
     * The pipeline that prints the lines of releases(), an empty line, then
     * "VERSION | FILE" for each version of orvel-version on every
     * architecture apt is configured for ("orvel-version:*") and for each
     * version of orvel-version that a package provides, with each package
     * file that offers it: one apt-get and one apt-cache run, and a second
     * apt-cache run only when some package provides orvel-version with a
     * version. Text of another shape fails it (exit 4).
     */
    static QString packageVersions();
    /// "apt_args=(...); ": @p aptArgs, each quoted, as the bash array that
    /// the queries hand to apt as "${apt_args[@]}"; and apt-cache as a
    /// function that runs it under the name apt-get (its configuration,
    /// Binary::apt-get included, is the installer's).
    static QString argumentsArray(QStringList const& aptArgs);
    /**
     * The first of @p aptArgs that is neither an option nor the value of
     * one (-o, -c, -t, -a and their long forms take one): an apt command
     * word or a package name, which the queries cannot take. Empty if none.
     */
    static QString strayWord(QStringList const& aptArgs);
    /// @p words, each in single quotes for bash, joined by spaces.
    static QString quotedForShell(QStringList const& words);
};
