#pragma once

#include <QMultiHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

#include "Logger.h"
#include "orvelupdatechecks_export.h"

/**
 * Common base of the update validators.
 *
 * Holds the logger, the installed system version (read once at
 * construction), the offered versions, the apt arguments of the pending
 * operation and the sources that the latest check() found invalid. It also
 * finds out which package source offers which version, by running a shell
 * pipeline over "apt-cache policy" and "apt-cache madison orvel-version".
 */
class ORVELUPDATECHECKS_EXPORT UpdateValidator
{
public:
    UpdateValidator(std::shared_ptr<Logger> logger, QStringList const& aptArgs);
    virtual ~UpdateValidator();

    /**
     * True when the update may proceed. Implementations fetch the versions
     * with sources once, then empty and refill the invalid sources, judging
     * every offered version without stopping at the first refusal.
     */
    virtual bool check() = 0;

    void setCurrentOrvelVersion(QString const& version);
    /// Also ends the state of a failed version query (m_versionQueryFailed).
    void setAvailableVersions(QStringList const& versions);
    /// A null logger switches logging off.
    void setLogger(std::shared_ptr<Logger> logger);

    /// Sources (repository URLs) refused by the latest check(), each once.
    QSet<QString> getInvalidSources() const;

    /// Version-to-source map, built afresh from apt on every call.
    QMultiHash<QString, QString> getVersionsWithSources() const;
    /// Output lines of the versions-with-sources command; empty when the
    /// command cannot be run, crashes or runs longer than 30 s.
    QStringList getRawVersionsWithSources() const;
    /**
     * Reads "version|source ..." lines: a line needs at least one "|"; the
     * version is the first field trimmed, the source the second field
     * trimmed up to its first space. Every line adds one entry.
     */
    QMultiHash<QString, QString> parseVersionsWithSources(QStringList const& lines) const;

    /// The shell command whose output getRawVersionsWithSources() returns.
    static QString versionsWithSourcesCommand();

protected:
    /**
     * Runs @p commandLine through "/usr/bin/bash -c" and returns its
     * standard output split at every newline, empty parts kept. When the
     * command cannot be run, crashes or exceeds the time limit, logs
     * @p failureMessage and the child's standard error as two error lines
     * and returns no value.
     */
    std::optional<QStringList> runShellCommand(QString const& commandLine,
                                               QString const& failureMessage) const;

    /// The debug lines of a validator's constructor: @p functionName alone,
    /// the installed version, then the offered versions after @p availableLabel.
    void logConstruction(QString const& functionName, QString const& availableLabel) const;

    std::shared_ptr<Logger> m_logger;
    QString m_currentOrvelVersion;
    QStringList m_availableVersions;
    QStringList m_aptArgs;
    QSet<QString> m_invalidSources;
    /// Set by a subclass whose own query of the offered versions failed, so
    /// that m_availableVersions is unknown rather than empty. Cleared when
    /// setAvailableVersions() supplies the versions.
    bool m_versionQueryFailed = false;
};
