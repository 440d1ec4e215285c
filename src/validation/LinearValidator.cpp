#include "LinearValidator.h"

#include "ChildProcess.h"

#include <WexAdmin/PackageManager.h>

namespace {
const QString constructorName = QStringLiteral("LinearValidator::LinearValidator(std::shared_ptr<Logger>, const QStringList&)");
const QString checkName = QStringLiteral("virtual bool LinearValidator::check()");
const QString package = QStringLiteral("orvel-version");
const QString checkKind = QStringLiteral("linear");
}

LinearValidator::LinearValidator(std::shared_ptr<Logger> logger, const QStringList& aptArgs)
    : UpdateValidator(std::move(logger), aptArgs)
{
    m_availableVersions = WexAdmin::PackageManager::getAvailableVersionsList(package, aptArgs);
    // The package manager answers a failed query with an empty list too. apt
    // itself tells the two apart: it exits 0 for a package that nobody offers.
    if (m_availableVersions.isEmpty()) {
        const ChildProcess::Result madison = ChildProcess::run(
            QStringLiteral("apt-cache"), QStringList{QStringLiteral("madison")} + aptArgs + QStringList{package});
        m_versionQueryFailed = !madison.exitedCleanly();
        if (m_versionQueryFailed)
            logQueryFailure(QStringLiteral("Unable to get available versions for linear validation"),
                            madison.standardErrorText());
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

    QString currentDesignVersion = QStringLiteral("99");
    QString currentMajorVersion = QStringLiteral("99");
    const QMultiHash<QString, QString> versionsWithSources = getVersionsWithSources();
    clearRefusals();

    const QStringList current = m_currentOrvelVersion.split(QLatin1Char('.'));
    if (current.size() >= 3) {
        currentDesignVersion = current.at(0);
        currentMajorVersion = current.at(1);
        if (m_logger) {
            m_logger->debug(checkName, QStringLiteral("currentDesignVersion = ") + currentDesignVersion);
            m_logger->debug(checkName, QStringLiteral("currentMajorVersion = ") + currentMajorVersion);
        }
    }

    bool linear = true;
    for (const QString& avail : m_availableVersions) {
        const QStringList components = avail.split(QLatin1Char('.'));
        if (components.size() < 3)
            continue;
        if (m_logger)
            m_logger->debug(checkName, QStringLiteral("avail = ") + avail);

        QString logLine;
        QString rule;
        QString component;
        if (components.at(1) != currentMajorVersion) {
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

    if (linear && m_logger)
        m_logger->info(QStringLiteral("Update is linear"));
    return linear;
}
