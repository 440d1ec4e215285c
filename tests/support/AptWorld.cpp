// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptWorld.h"

#include "ChildProcess.h"

#include <QFile>

#include <stdexcept>

AptWorld::AptWorld(const QString& installed, const QVector<Repo>& repos)
{
    if (!m_dir.isValid())
        throw std::runtime_error("cannot create a temporary directory for the apt world");
    QStringList arguments{m_dir.path(), installed};
    for (const Repo& repo : repos)
        arguments << repo.name + QLatin1Char(':') + repo.release + QLatin1Char(':')
                + repo.packageVersions.join(QLatin1Char(',')) + QLatin1Char(':') + repo.label;
    const ChildProcess::Result result = ChildProcess::run(builder(), arguments, 120000);
    if (!result.succeeded || !result.standardError.isEmpty())
        throw std::runtime_error("make-apt-world failed: " + result.standardError.toStdString());

    m_environment.set("APT_CONFIG", aptConfig().toLocal8Bit());
    m_environment.set("ORVEL_SYSROOT", (m_dir.path() + QStringLiteral("/sysroot")).toLocal8Bit());
}

QString AptWorld::directory() const
{
    return m_dir.path();
}

QString AptWorld::url(const QString& repoName) const
{
    return QStringLiteral("file:") + m_dir.path() + QStringLiteral("/repos/") + repoName;
}

QString AptWorld::aptConfig() const
{
    return m_dir.path() + QStringLiteral("/apt.conf");
}

void AptWorld::breakSourcesList() const
{
    QFile sources(m_dir.path() + QStringLiteral("/apt/sources.list"));
    if (!sources.open(QIODevice::Append) || sources.write("deb this-line-is-malformed\n") < 0)
        throw std::runtime_error("cannot write the sources list of the apt world");
}

QString AptWorld::builder()
{
    return QStringLiteral(ORVEL_TEST_SUPPORT_DIR "/make-apt-world");
}
