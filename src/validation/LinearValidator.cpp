// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "LinearValidator.h"

#include "ChildProcess.h"

#include <WexAdmin/PackageManager.h>

#include <QDeadlineTimer>

#include <optional>

namespace {
const QString constructorName = QStringLiteral("LinearValidator::LinearValidator(std::shared_ptr<Logger>, const QStringList&)");
const QString checkName = QStringLiteral("virtual bool LinearValidator::check()");
const QString package = QStringLiteral("orvel-version");
const QString checkKind = QStringLiteral("linear");

// The versions of "orvel-version" in "apt-cache madison" output, each once,
// cut to the text after their last "+v" as the package manager cuts them;
// no value when a line is not "package | version | source".
std::optional<QStringList> madisonVersions(const QString& output)
{
    QStringList versions;
    for (const QStringRef& line : output.splitRef(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QVector<QStringRef> fields = line.split(QLatin1Char('|'));
        if (fields.size() < 3 || fields.at(0).trimmed() != package)
            return std::nullopt;
        const QString version = UpdateValidator::orvelVersionOf(fields.at(1).trimmed().toString());
        if (!versions.contains(version))
            versions << version;
    }
    return versions;
}
}

LinearValidator::LinearValidator(std::shared_ptr<Logger> logger, const QStringList& aptArgs)
    : UpdateValidator(std::move(logger), aptArgs)
{
    // The package manager's query and the confirming one below ask apt the
    // same question: they share one time limit, so that an apt-cache that
    // hangs costs one wait, not two.
    const QDeadlineTimer period(ChildProcess::DefaultTimeoutMs);
    if (!refuseArgumentsUpFront())
        m_availableVersions = WexAdmin::PackageManager::getAvailableVersionsList(package, aptArgs);
    // The package manager answers a failed query with an empty list too. apt
    // itself tells the two apart: it exits 0 for a package that nobody offers.
    // Its own answer then counts, not the empty list: the package manager's
    // query may have failed where this one succeeds.
    if (m_availableVersions.isEmpty() && !m_versionQueryFailed) {
        const qint64 remainingMs = period.remainingTime();
        ChildProcess::Result madison;
        if (remainingMs > 0)
            madison = ChildProcess::run(QStringLiteral("apt-cache"),
                                        QStringList{QStringLiteral("madison")} + aptArgs + QStringList{package},
                                        static_cast<int>(remainingMs));
        if (remainingMs <= 0 || madison.timedOutAfterMs > 0)
            madison.timedOutAfterMs = ChildProcess::DefaultTimeoutMs;
        const std::optional<QStringList> offered =
            madison.exitedCleanly() ? madisonVersions(madison.standardOutputText()) : std::nullopt;
        m_versionQueryFailed = !offered;
        if (offered)
            m_availableVersions = *offered;
        else
            logQueryFailure(QStringLiteral("Unable to get available versions for linear validation"),
                            madison.exitedCleanly()
                                ? QStringLiteral("apt-cache madison printed a line that is not package | version | source")
                                : madison.failureText());
    }
    logConstruction(constructorName, QStringLiteral("available orvel version = "));
}

LinearValidator::~LinearValidator() = default;

bool LinearValidator::check()
{
    if (m_logger)
        m_logger->debug(checkName);
    if (m_versionQueryFailed)
        return refuseUnknownVersions(
            checkKind, QStringLiteral("Linear check failed"),
            QStringLiteral("apt could not say which versions are offered, so none was compared with the installed %1")
                .arg(installedForMessage()));

    // Nothing can keep the design and major version of a release that is
    // not known: refuse rather than compare with a stand-in.
    const QStringList current = m_currentOrvelVersion.split(QLatin1Char('.'));
    if (current.size() < 3) {
        clearRefusals();
        const QString why = m_currentOrvelVersion.isEmpty()
            ? QStringLiteral("the installed Orvel release could not be read, so no offered version was compared with it")
            : QStringLiteral("the installed Orvel release \"%1\" has fewer than three components, so no offered "
                             "version was compared with it")
                  .arg(m_currentOrvelVersion);
        m_refusals.append({checkKind, QStringLiteral("installed-version-unknown"), QString(), m_currentOrvelVersion,
                           {}, why});
        if (m_logger) {
            m_logger->error(why);
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
    const auto versionsWithSources = fetchVersionsWithSources();
    clearRefusals();

    bool linear = true;
    for (const QString& avail : versionsToJudge()) {
        // A version without a major component cannot keep it.
        const QStringList components = avail.split(QLatin1Char('.'));
        if (m_logger)
            m_logger->debug(checkName, QStringLiteral("avail = ") + avail);

        QString logLine;
        QString rule;
        QString component;
        if (components.size() < 2 || components.at(1) != currentMajorVersion) {
            logLine = QStringLiteral("Error: The versions of the available latest update is different, it's prohibited");
            rule = QStringLiteral("major-version-changed");
            component = QStringLiteral("major");
        } else if (components.at(0) != currentDesignVersion) {
            logLine = QStringLiteral("Error: The versions of the system design is different, it's prohibited");
            rule = QStringLiteral("design-version-changed");
            component = QStringLiteral("design");
        } else {
            continue;
        }

        if (m_logger)
            m_logger->error(logLine);
        refuse(checkKind, rule, avail, versionsWithSources,
               QStringLiteral("%1 changes the %2 version of the installed %3").arg(avail, component, installedForMessage()));
        linear = false;
    }

    sortRefusals();
    if (linear && m_logger)
        m_logger->info(QStringLiteral("Update is linear"));
    return linear;
}
