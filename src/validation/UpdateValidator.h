// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QMultiHash>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <optional>

#include "Logger.h"
#include "Refusal.h"
#include "orvelupdatechecks_export.h"

class AptAnswers;

/**
 * Common base of the update validators.
 *
 * Holds the logger, the installed system version (read once at
 * construction), the offered versions, the apt arguments of the pending
 * operation and the sources that the latest check() found invalid. It also
 * finds out which package source offers which version, by running a shell
 * pipeline over "apt-cache policy" and "apt-cache madison" of orvel-version
 * (every architecture) and of the packages that provide it. The
 * validators of one verdict share what apt answered (AptAnswers).
 */
class ORVELUPDATECHECKS_EXPORT UpdateValidator
{
public:
    /// Asks apt for itself alone: its answers are shared with no other
    /// validator.
    UpdateValidator(std::shared_ptr<Logger> logger, QStringList const& aptArgs);
    /// Shares @p answers with the other validators of the same verdict.
    UpdateValidator(std::shared_ptr<Logger> logger, QStringList const& aptArgs, std::shared_ptr<AptAnswers> answers);
    virtual ~UpdateValidator();

    /**
     * True when the update may proceed. Implementations take the versions
     * with sources from apt's answers for this verdict (the first check()
     * after construction shares those the constructors obtained; a later
     * one asks apt again), then empty and refill the invalid sources,
     * judging every offered version without stopping at the first refusal.
     */
    virtual bool check() = 0;

    void setCurrentOrvelVersion(QString const& version);
    /// Also ends the state of a failed version query (m_versionQueryFailed).
    void setAvailableVersions(QStringList const& versions);
    /// A null logger switches logging off.
    void setLogger(std::shared_ptr<Logger> logger);
    /**
     * The versions that the pending operation is about to install (as apt's
     * request to its pre-install hook names them), each with the source the
     * request gives for it, a local .deb file for instance. check() judges
     * them after the offered versions and by the same rules; a refused one
     * that no source apt lists offers is refused in the name of that source.
     */
    void setRequestedVersions(QVector<QPair<QString, QString>> const& versionsWithSources);

    /// The Orvel version of a package version of orvel-version: the text
    /// after its last "+v" ("1.0+v1.7.5.16" gives "1.7.5.16"), or all of it.
    static QString orvelVersionOf(QString const& packageVersion);

    /// Sources (repository URLs) refused by the latest check(), each once.
    QSet<QString> getInvalidSources() const;
    /// Why the latest check() refused, one refusal per refused version in
    /// the order the versions were judged; their sources together are
    /// exactly getInvalidSources().
    QVector<Refusal> getRefusals() const;
    /// The installed version the checks judge against.
    QString getCurrentOrvelVersion() const;

    /// Version-to-source map, built afresh from apt on every call; empty
    /// when apt could not list them.
    QMultiHash<QString, QString> getVersionsWithSources() const;
    /// Output lines of the versions-with-sources command; empty when the
    /// command cannot be run, fails, crashes or runs longer than 30 s.
    QStringList getRawVersionsWithSources() const;
    /**
     * Reads "version | source ..." lines: a line needs at least one "|";
     * the version is the text before the first "|" trimmed, the source the
     * rest trimmed up to its first space (a URL holds no space, but may
     * hold a "|"). Every line adds one entry.
     */
    QMultiHash<QString, QString> parseVersionsWithSources(QStringList const& lines) const;

    /**
     * The shell command whose output getRawVersionsWithSources() returns.
     * @p aptArgs, each quoted for the shell, are handed to "apt-get
     * indextargets", "apt-cache policy" and "apt-cache madison", so that
     * sources are looked up in the same apt configuration as the versions.
     */
    static QString versionsWithSourcesCommand(QStringList const& aptArgs = QStringList());

    /**
     * The sources that offer @p packages ("name" or "name:architecture"),
     * from "apt-cache madison" with the apt arguments: each package file's
     * "URL dist" (MadisonLine::packageFile) under "package version", the
     * package as madison names it ("name:architecture" for a foreign one).
     * No value when apt could not say (logged), or printed a line of
     * another shape.
     */
    std::optional<QMultiHash<QString, QString>> sourcesOfPackages(QStringList const& packages) const;

    /**
     * The first of @p aptArgs that asks apt for its help or version (-h,
     * --help, -v, --version, or -h or -v among grouped short options), or
     * an empty string. apt then prints that instead of what the checks ask
     * and succeeds, so such arguments are refused before any query.
     */
    static QString helpOrVersionOption(QStringList const& aptArgs);
    /// The sentence that refuses @p option (a helpOrVersionOption()), for
    /// the checks' refusal and the tool's usage error alike.
    static Refusal::Part helpOrVersionProblem(QString const& option);

protected:
    /// The map of getVersionsWithSources(), or no value when the command
    /// failed: the sources are then unknown.
    std::optional<QMultiHash<QString, QString>> fetchVersionsWithSources() const;
    /**
     * The version-to-source map of this verdict, made from apt's answers
     * (releases() and packages()) as versionsWithSourcesCommand() makes its
     * lines, but with each package file's "URL dist" (MadisonLine::packageFileOf()) as
     * the source; no value when either query failed.
     */
    std::optional<QMultiHash<QString, QString>> verdictVersionsWithSources();
    /// Starts a check(): a validator that already checked against the
    /// current answers renews them, so that this check asks apt afresh.
    void beginCheck();
    /// The "FILE<tab>RELEASE" lines of this verdict (releasesCommand()), asked
    /// once; no value when the query failed (logged with @p failureMessage).
    std::optional<QStringList> releases(QString const& failureMessage);
    /// The "version | source" lines of this verdict (AptQueries::packageVersions()),
    /// asked once within @p timeoutMs; no value when the query failed.
    std::optional<QStringList> packages(QString const& failureMessage, int timeoutMs = 30000);
    /// The releases query: AptQueries::releases() with the apt arguments.
    QString releasesCommand() const;
    /// Runs @p query (AptQueries) with the apt arguments, as
    /// runShellCommand(); no value, with @p failureMessage and why logged
    /// and apt not asked, when a word of the arguments is no option.
    std::optional<QStringList> askApt(QString const& query, QString const& failureMessage, int timeoutMs = 30000);
    /// The lines of getRawVersionsWithSources(), or no value when the
    /// command failed (logged).
    std::optional<QStringList> queryVersionsWithSources() const;

    /// A version-source line split at its first "|": the version and the
    /// source field, both trimmed; no value without "|".
    static std::optional<std::pair<QString, QString>> versionAndSource(QStringView line);
    /// True when the arguments keep the queries from running
    /// (helpOrVersionOption()); logs why and marks the versions unknown.
    bool refuseArgumentsUpFront();

    /**
     * Runs @p commandLine through "/usr/bin/bash -c", its standard input
     * reading @p input, and returns its standard output split at every
     * newline, empty parts kept. Only an
     * answer given in full counts: the command must exit with code 0, and
     * a line of the run's own is printed after it and checked (a bash that
     * ran nothing exits 0 too, with no output). Otherwise (the command
     * cannot be run, crashes, exceeds the time or output limit, exits with
     * another code or stops short), logs @p failureMessage and why, and
     * returns no value.
     */
    std::optional<QStringList> runShellCommand(QString const& commandLine, QString const& failureMessage,
                                               int timeoutMs = 30000, QByteArray const& input = QByteArray()) const;

    /// The error lines of a failed query: @p message, then each line of
    /// @p why (the child's standard error, or that it timed out).
    void logQueryFailure(QString const& message, QString const& why) const;
    /// What a person is told of a failed query's @p why: apt's first error
    /// line ("E: ..."), or else its first line, as apt wrote it: whoever
    /// shows it to a person escapes it.
    static QString aptErrorOf(QString const& why);

    /// Starts the record of a check(): no source, no refusal.
    void clearRefusals();
    /**
     * Records that @p version breaks @p rule of @p check: one refusal (a
     * version refused twice is recorded once), whose sources, the values
     * of @p versionsWithSources under @p version (or, without any, the
     * sources its request names), join m_invalidSources; with no map, the
     * sources that apt lists are unknown.
     */
    void refuse(QString const& check, QString const& rule, QString const& version,
                std::optional<QMultiHash<QString, QString>> const& versionsWithSources,
                QVector<Refusal::Part> const& parts);
    /// A refusal of @p check by @p rule for @p version (or none), its
    /// message made of @p parts and, when the installed release is
    /// unknown, the sentence that says why.
    Refusal refusal(QString const& check, QString const& rule, QString const& version,
                    QVector<Refusal::Part> parts) const;
    /// The offered versions, then the requested ones not among them: what
    /// check() judges.
    QStringList versionsToJudge() const;
    /// Ends the record of a check(): refusals in version order.
    void sortRefusals();
    /// Ends a check() whose offered versions are unknown (m_versionQueryFailed):
    /// records the refusal "versions-unknown" of @p check, without source,
    /// its @p explanation followed by what apt said (@p aptError) and by a
    /// word of the apt arguments that no query can take (AptQueries::strayWord()); logs
    /// @p logMessage as an error and answers false.
    bool refuseUnknownVersions(QString const& check, QString const& logMessage, Refusal::Part const& explanation,
                               QString const& aptError);
    /// The installed version for a sentence: "(unknown)" when empty.
    QString installedForMessage() const;
    /// The sentence that says why the installed version is empty: the
    /// system-version library read nothing from its file.
    static Refusal::Part installedUnknownReason();

    /// The debug lines of a validator's constructor: @p functionName alone,
    /// the installed version, then the offered versions after @p availableLabel.
    void logConstruction(QString const& functionName, QString const& availableLabel) const;

    /// Whether a subclass's own query of the offered versions failed, so
    /// that m_availableVersions is unknown rather than empty. Cleared when
    /// setAvailableVersions() supplies the versions.
    bool versionQueryFailed() const;
    void setVersionQueryFailed(bool failed);
    /// What apt answered for this verdict, shared with the other validators
    /// of the manager.
    AptAnswers& answers() const;
    /// Records @p refusal as it stands (no sources of its own).
    void addRefusal(Refusal const& refusal);

    std::shared_ptr<Logger> m_logger;
    QString m_currentOrvelVersion;
    QStringList m_availableVersions;
    QStringList m_aptArgs;
    QSet<QString> m_invalidSources;

private:
    // What the checks keep besides the fields above: out of the installed
    // header, so that it can change without breaking programs.
    struct Private;
    std::unique_ptr<Private> d;
};
