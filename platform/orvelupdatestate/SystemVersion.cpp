// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "OrvelUpdateState/SystemVersion.h"

#include <QFile>

namespace OrvelUpdateState {

QString SystemVersion::m_pathToOrvelVersion = QStringLiteral("/etc/orvel_version");
QString SystemVersion::m_pathToOrvelBuildVersion = QStringLiteral("/etc/orvel/build_version");
QString SystemVersion::m_pathToHotfixBuildVersion = QStringLiteral("/etc/orvel/hotfix_build_version");

QString SystemVersion::getCurrentSystemVersion()
{
    const QString sysroot = qEnvironmentVariable("ORVEL_SYSROOT");
    QFile file(sysroot + m_pathToOrvelVersion);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readLine()).trimmed();
}

} // namespace OrvelUpdateState
