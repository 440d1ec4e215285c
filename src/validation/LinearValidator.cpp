// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "LinearValidator.h"

#include "AptAnswers.h"

#include "ChildProcess.h"

#include <WexAdmin/PackageManager.h>

#include <QDeadlineTimer>

namespace {
const QString constructorName =
    QStringLiteral("LinearValidator::LinearValidator(std::shared_ptr<Logger>, const QStringList&)");
const QString checkName = QStringLiteral("virtual bool LinearValidator::check()");
const QString package = QStringLiteral("orvel-version");
const QString checkKind = QStringLiteral("linear");
} // namespace

LinearValidator::LinearValidator(std::shared_ptr<Logger> logger, const QStringList& aptArgs)
    : LinearValidator(std::move(logger), aptArgs, nullptr)
{ }

LinearValidator::LinearValidator(std::shared_ptr<Logger> logger, const QStringList& aptArgs,
                                 std::shared_ptr<AptAnswers> answers)
    : UpdateValidator(std::move(logger), aptArgs, std::move(answers))
{
    // The package manager's query and apt's own below ask the same
    // question: they share one time limit, so that an apt-cache that hangs
    // costs one wait, not two.
    const QDeadlineTimer period(ChildProcess::DefaultTimeoutMs);
    if (!refuseArgumentsUpFront())
        m_availableVersions = WexAdmin::PackageManager::getAvailableVersionsList(package, aptArgs);
    // The package manager sees orvel-version of this machine's own
    // architecture alone, and answers a failed query with an empty list.
    // The versions of every architecture and of the packages that provide
    // orvel-version come from apt itself, which also tells a failed query
    // from a package that nobody offers.
    if (!versionQueryFailed()) {
        const std::optional<QStringList> lines =
            packages(QStringLiteral("Unable to get available versions for linear validation"),
                     static_cast<int>(period.remainingTime()));
        setVersionQueryFailed(!lines);
        QSet<QString> known(m_availableVersions.cbegin(), m_availableVersions.cend());
        for (const QString& line : lines.value_or(QStringList())) {
            const int separator = line.indexOf(QLatin1Char('|'));
            const QString version = orvelVersionOf(line.left(separator).trimmed());
            if (separator >= 0 && !known.contains(version)) {
                known.insert(version);
                m_availableVersions << version;
            }
        }
    }
    logConstruction(constructorName, QStringLiteral("available orvel version = "));
}

LinearValidator::~LinearValidator() = default;

bool LinearValidator::check()
{
    beginCheck();
    if (m_logger)
        m_logger->debug(checkName);
    if (versionQueryFailed())
        return refuseUnknownVersions(
            checkKind, QStringLiteral("Linear check failed"),
            Refusal::sentence("apt could not say which versions are offered, so none was compared with the "
                              "installed %1",
                              {installedForMessage()}),
            answers().packagesError);

    // Nothing can keep the design and major version of a release that is
    // not known: refuse rather than compare with a stand-in.
    const QStringList current = m_currentOrvelVersion.split(QLatin1Char('.'));
    if (current.size() < 3) {
        clearRefusals();
        const Refusal unknown = m_currentOrvelVersion.isEmpty()
            ? refusal(checkKind, QStringLiteral("installed-version-unknown"), QString(),
                      {Refusal::sentence("no offered version was compared with the installed Orvel release")})
            : refusal(checkKind, QStringLiteral("installed-version-unknown"), QString(),
                      {Refusal::sentence("the installed Orvel release \"%1\" has fewer than three components, so "
                                         "no offered version was compared with it",
                                         {m_currentOrvelVersion})});
        addRefusal(unknown);
        if (m_logger) {
            m_logger->error(unknown.message);
            m_logger->error(QStringLiteral("Linear check failed"));
        }
        return false;
    }
    const QString currentDesignVersion = current.at(0);
    const QString currentMajorVersion = current.at(1);
    if (m_logger) {
        m_logger->debug(checkName, QStringLiteral("currentDesignVersion = ") + currentDesignVersion);
        m_logger->debug(checkName, QStringLiteral("currentMajorVersion = ") + currentMajorVersion);
    }
    const auto versionsWithSources = verdictVersionsWithSources();
    clearRefusals();

    bool linear = true;
    for (const QString& avail : versionsToJudge()) {
        // A version without a major component cannot keep it.
        const QStringList components = avail.split(QLatin1Char('.'));
        if (m_logger)
            m_logger->debug(checkName, QStringLiteral("avail = ") + avail);

        QString logLine;
        QString rule;
        Refusal::Part sentence;
        if (components.size() < 2 || components.at(1) != currentMajorVersion) {
            logLine =
                QStringLiteral("Error: The versions of the available latest update is different, it's prohibited");
            rule = QStringLiteral("major-version-changed");
            sentence =
                Refusal::sentence("%1 changes the major version of the installed %2", {avail, installedForMessage()});
        } else if (components.at(0) != currentDesignVersion) {
            logLine = QStringLiteral("Error: The versions of the system design is different, it's prohibited");
            rule = QStringLiteral("design-version-changed");
            sentence =
                Refusal::sentence("%1 changes the design version of the installed %2", {avail, installedForMessage()});
        } else {
            continue;
        }

        if (m_logger)
            m_logger->error(logLine);
        refuse(checkKind, rule, avail, versionsWithSources, {sentence});
        linear = false;
    }

    sortRefusals();
    if (linear && m_logger)
        m_logger->info(QStringLiteral("Update is linear"));
    return linear;
}
