// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "HotfixValidator.h"

#include "AptAnswers.h"

namespace {
const QString constructorName =
    QStringLiteral("HotfixValidator::HotfixValidator(std::shared_ptr<Logger>, const QStringList&)");
const QString checkName = QStringLiteral("virtual bool HotfixValidator::check()");
const QString queryName = QStringLiteral("QStringList HotfixValidator::m_getAvailableVersion() const");
const QString hotfixMarker = QStringLiteral("hotfix");
const QString checkKind = QStringLiteral("hotfix");

// Components hold no full stop, so joining the first three is unambiguous.
QString minorVersionOf(const QStringList& components)
{
    return components.mid(0, 3).join(QLatin1Char('.'));
}
} // namespace

HotfixValidator::HotfixValidator(std::shared_ptr<Logger> logger, const QStringList& aptArgs)
    : HotfixValidator(std::move(logger), aptArgs, nullptr)
{ }

HotfixValidator::HotfixValidator(std::shared_ptr<Logger> logger, const QStringList& aptArgs,
                                 std::shared_ptr<AptAnswers> answers)
    : UpdateValidator(std::move(logger), aptArgs, std::move(answers))
{
    if (!refuseArgumentsUpFront()) {
        m_availableVersions = m_getAvailableVersion();
        // A query that ran always yields at least one (possibly empty) line,
        // so an empty list means that it failed.
        setVersionQueryFailed(m_availableVersions.isEmpty());
    }
    logConstruction(constructorName, QStringLiteral("available orvel version (deduplicated) = "));
}

HotfixValidator::~HotfixValidator() = default;

QString HotfixValidator::m_getAptCacheCommand() const
{
    // The Version field of each package file's Release file, as apt reads
    // it, for the package files that apt's sources describe; a field that
    // a repository continues over further lines announces nothing more. A
    // failing apt-get fails the whole query (pipefail).
    return releasesCommand();
}

QStringList HotfixValidator::m_getAvailableVersion()
{
    const std::optional<QStringList> lines =
        releases(QStringLiteral("Unable to get available versions for hotfix validation"));
    if (!lines)
        return {};
    // "FILE<tab>RELEASE" lines; an output without any release is one empty line.
    QStringList versions;
    versions.reserve(lines->size());
    for (const QString& line : *lines)
        versions << line.mid(line.indexOf(QLatin1Char('\t')) + 1);
    if (m_logger)
        m_logger->debug(queryName,
                        QStringLiteral("available orvel version (duplicated) = ") + versions.join(QLatin1Char(' ')));
    const QSet<QString> distinct(versions.cbegin(), versions.cend());
    return QStringList(distinct.cbegin(), distinct.cend());
}

bool HotfixValidator::m_isUpdateSameMinorVersion(const QStringList& first, const QStringList& second) const
{
    if (first.size() < 3 || second.size() < 3)
        return false;
    return first.at(0) == second.at(0) && first.at(1) == second.at(1) && first.at(2) == second.at(2);
}

QSet<QString> HotfixValidator::m_regularMinorVersions(const QStringList& versions) const
{
    QSet<QString> minors;
    for (const QString& version : versions) {
        if (version.contains(hotfixMarker))
            continue;
        const QStringList components = version.split(QLatin1Char('.'));
        if (components.size() >= 3)
            minors.insert(minorVersionOf(components));
    }
    return minors;
}

bool HotfixValidator::check()
{
    beginCheck();
    if (m_logger)
        m_logger->debug(checkName);

    // Without the offered versions nothing can be judged: refuse rather
    // than pass an update that was never examined.
    if (versionQueryFailed())
        return refuseUnknownVersions(
            checkKind, QStringLiteral("Hotfix check failed"),
            Refusal::sentence("apt could not say which releases the sources announce, so no hotfix was checked "
                              "against the installed %1",
                              {installedForMessage()}),
            answers().releasesError);

    const QStringList current = m_currentOrvelVersion.split(QLatin1Char('.'));
    const auto versionsWithSources = verdictVersionsWithSources();
    clearRefusals();

    // Looked up once per check, so that many hotfix versions cost no more
    // than one pass each.
    const QStringList versions = versionsToJudge();
    const QSet<QString> regularMinors = m_regularMinorVersions(versions);
    bool allowed = true;
    for (const QString& version : versions) {
        const QStringList components = version.split(QLatin1Char('.'));
        if (!components.last().contains(hotfixMarker)) {
            if (m_logger)
                m_logger->debug(checkName, QStringLiteral("%1 is not hotfix repo").arg(version));
        } else if (m_isUpdateSameMinorVersion(current, components)) {
            if (m_logger)
                m_logger->debug(checkName, QStringLiteral("%1 is hotfix repo of current version").arg(version));
        } else if (components.size() >= 3 && regularMinors.contains(minorVersionOf(components))) {
            if (m_logger)
                m_logger->debug(checkName,
                                QStringLiteral("%1 is hotfix repo with corresponding minor version").arg(version));
        } else {
            if (m_logger) {
                m_logger->error(QStringLiteral("Hotfix check failed"));
                m_logger->error(QStringLiteral("Forbidden version = ") + version);
            }
            refuse(checkKind, QStringLiteral("hotfix-not-allowed"), version, versionsWithSources,
                   {Refusal::sentence("%1 is a hotfix of neither the installed %2 nor an offered regular release",
                                      {version, installedForMessage()})});
            allowed = false;
        }
    }
    sortRefusals();
    return allowed;
}
