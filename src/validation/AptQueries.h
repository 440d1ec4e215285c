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
     * The pipeline that reads "apt-cache policy" with the apt arguments of
     * argumentsArray() before it: for each package file, the "v=" of the
     * release line that directly follows its " NNN FILE" line: "RELEASE |
     * FILE", or with @p fileFirst "FILE<tab>RELEASE" (FILE is apt's name of
     * the package file, "URL dist arch Packages", which holds no tab). A
     * repository's own text can continue its release line with lines of
     * any shape; so a package file counts only when apt's sources
     * configuration describes it ("apt-get indextargets"), and a release of
     * any other one, or a package file listed twice, fails the pipeline
     * (exit 5), as does output without a "Package files:" block (exit 3):
     * apt then answered another question.
     */
    static QString policyReleases(bool fileFirst);
    /**
     * The pipeline that prints, in "apt-cache madison"'s shape ("version |
     * source ..."), the versions of orvel-version on every architecture apt
     * is configured for ("orvel-version:*") and, for each package that
     * provides orvel-version with a version, the version it provides, with
     * the sources that offer it. Uses the bash array of argumentsArray(); a
     * line of madison's of another shape fails it (exit 4).
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
