// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "WexAdmin/PackageManager.h"

#include "ChildProcess.h"

#include <QSet>

namespace WexAdmin {

QStringList PackageManager::getAvailableVersionsList(const QString& package, const QStringList& aptArgs)
{
    const ChildProcess::Result result = ChildProcess::run(
        QStringLiteral("apt-cache"), QStringList{QStringLiteral("madison")} + aptArgs + QStringList{package});
    if (!result.succeeded)
        return {};

    // Lines read "<package> | <version> | <source> <dist> <type>".
    QStringList versions;
    QSet<QString> seen;
    const QString output = result.standardOutputText();
    for (const QStringRef& line : output.splitRef(QLatin1Char('\n'))) {
        const QVector<QStringRef> fields = line.split(QLatin1Char('|'));
        if (fields.size() < 2 || fields.at(0).trimmed() != package)
            continue;
        QString version = fields.at(1).trimmed().toString();
        const int marker = version.lastIndexOf(QLatin1String("+v"));
        if (marker >= 0)
            version.remove(0, marker + 2);
        if (!seen.contains(version)) {
            seen.insert(version);
            versions.append(version);
        }
    }
    return versions;
}

} // namespace WexAdmin
