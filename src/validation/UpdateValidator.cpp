#include "UpdateValidator.h"

#include "ChildProcess.h"

#include <OrvelUpdateState/SystemVersion.h>

#include <algorithm>

UpdateValidator::UpdateValidator(std::shared_ptr<Logger> logger, QStringList const& aptArgs)
    : m_logger(std::move(logger))
    , m_currentOrvelVersion(OrvelUpdateState::SystemVersion::getCurrentSystemVersion())
    , m_aptArgs(aptArgs)
{
}

UpdateValidator::~UpdateValidator() = default;

void UpdateValidator::setCurrentOrvelVersion(QString const& version)
{
    m_currentOrvelVersion = version;
    if (m_logger)
        m_logger->debug(QStringLiteral("void UpdateValidator::setCurrentOrvelVersion(const QString&)"),
                        QStringLiteral("current orvel version = ") + m_currentOrvelVersion);
}

void UpdateValidator::setAvailableVersions(QStringList const& versions)
{
    m_availableVersions = versions;
    m_versionQueryFailed = false;
    if (m_logger)
        m_logger->debug(QStringLiteral("void UpdateValidator::setAvailableVersions(const QStringList&)"),
                        QStringLiteral("available orvel version = ")
                            + m_availableVersions.join(QLatin1Char(' ')));
}

void UpdateValidator::setLogger(std::shared_ptr<Logger> logger)
{
    m_logger = std::move(logger);
}

QSet<QString> UpdateValidator::getInvalidSources() const
{
    return m_invalidSources;
}

QVector<Refusal> UpdateValidator::getRefusals() const
{
    return m_refusals;
}

QString UpdateValidator::getCurrentOrvelVersion() const
{
    return m_currentOrvelVersion;
}

void UpdateValidator::clearRefusals()
{
    m_invalidSources.clear();
    m_refusals.clear();
}

void UpdateValidator::refuse(QString const& check, QString const& rule, QString const& version,
                             QMultiHash<QString, QString> const& versionsWithSources, QString const& message)
{
    const QList<QString> offeredBy = versionsWithSources.values(version);
    QSet<QString> sources(offeredBy.cbegin(), offeredBy.cend());
    m_invalidSources.unite(sources);
    for (const Refusal& refusal : qAsConst(m_refusals))
        if (refusal.version == version)
            return;
    QStringList sorted(sources.cbegin(), sources.cend());
    std::sort(sorted.begin(), sorted.end());
    m_refusals.append({check, rule, version, m_currentOrvelVersion, sorted, message});
}

QString UpdateValidator::installedForMessage() const
{
    return m_currentOrvelVersion.isEmpty() ? QStringLiteral("(unknown)") : m_currentOrvelVersion;
}

QMultiHash<QString, QString> UpdateValidator::getVersionsWithSources() const
{
    return parseVersionsWithSources(getRawVersionsWithSources());
}

QString UpdateValidator::versionsWithSourcesCommand(QStringList const& aptArgs)
{
    // Release versions with the URL of the source that announces them, and
    // the package versions (text after "+v") with their sources.
    const QString arguments = aptArgs.isEmpty() ? QString() : QLatin1Char(' ') + quotedForShell(aptArgs);
    return QStringLiteral(
               R"((apt-cache policy%1 | awk '/^ [0-9]+ / {url=$2} /release v=/ {match($0, /v=([^,]+)/, ver); if (url && ver[1]) print ver[1] "|" url}'; apt-cache madison%1 orvel-version 2>/dev/null | awk -F'|' '{print $2 "|" $3}' | sed 's/.*+v//') | sort -u)")
        .arg(arguments);
}

QString UpdateValidator::quotedForShell(QStringList const& words)
{
    // Single quotes keep every character literal in bash; a quote itself is
    // closed, escaped and reopened.
    QStringList quoted;
    quoted.reserve(words.size());
    for (QString word : words)
        quoted << QLatin1Char('\'') + word.replace(QLatin1Char('\''), QLatin1String("'\\''")) + QLatin1Char('\'');
    return quoted.join(QLatin1Char(' '));
}

QStringList UpdateValidator::getRawVersionsWithSources() const
{
    return runShellCommand(versionsWithSourcesCommand(m_aptArgs),
                           QStringLiteral("Unable to get versions with sources"))
        .value_or(QStringList());
}

QMultiHash<QString, QString> UpdateValidator::parseVersionsWithSources(QStringList const& lines) const
{
    QMultiHash<QString, QString> versionsWithSources;
    versionsWithSources.reserve(lines.size());
    for (const QString& line : lines) {
        const QVector<QStringRef> fields = line.splitRef(QLatin1Char('|'));
        if (fields.size() < 2)
            continue;
        const QString version = fields.at(0).trimmed().toString();
        const QStringRef sourceField = fields.at(1).trimmed();
        const QString source = sourceField.left(sourceField.indexOf(QLatin1Char(' '))).toString();
        versionsWithSources.insert(version, source);
        if (m_logger)
            m_logger->debug(
                QStringLiteral("QMultiHash<QString, QString> UpdateValidator::parseVersionsWithSources(const QStringList&) const"),
                // One substitution pass, so that a "%1" inside a version
                // cannot pull the source into the version's place.
                QStringLiteral("Found: version=%1, source=%2").arg(version, source));
    }
    return versionsWithSources;
}

std::optional<QStringList> UpdateValidator::runShellCommand(QString const& commandLine,
                                                            QString const& failureMessage, ExitCode exitCode) const
{
    const ChildProcess::Result result = ChildProcess::runShell(commandLine);
    if (exitCode == ExitCode::MustBeZero ? !result.exitedCleanly() : !result.succeeded) {
        logQueryFailure(failureMessage, result.standardErrorText());
        return std::nullopt;
    }
    return result.standardOutputText().split(QLatin1Char('\n'));
}

void UpdateValidator::logQueryFailure(QString const& message, QString const& standardError) const
{
    if (m_logger) {
        m_logger->error(message);
        m_logger->error(standardError);
    }
}

bool UpdateValidator::refuseUnknownVersions(QString const& check, QString const& logMessage,
                                            QString const& explanation)
{
    clearRefusals();
    m_refusals.append({check, QStringLiteral("versions-unknown"), QString(), m_currentOrvelVersion, {}, explanation});
    if (m_logger)
        m_logger->error(logMessage);
    return false;
}

void UpdateValidator::logConstruction(QString const& functionName, QString const& availableLabel) const
{
    if (!m_logger)
        return;
    m_logger->debug(functionName);
    m_logger->debug(functionName, QStringLiteral("current orvel version = ") + m_currentOrvelVersion);
    m_logger->debug(functionName, availableLabel + m_availableVersions.join(QLatin1Char(' ')));
}
