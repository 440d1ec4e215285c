// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "WexAdmin/PackageManager.h"

#include "ChildProcess.h"
#include "MadisonLine.h"

#include <QSet>

namespace WexAdmin {

QStringList PackageManager::getAvailableVersionsList(const QString& package, const QStringList& aptArgs)
{
    const ChildProcess::Result result = ChildProcess::run(
        QStringLiteral("apt-cache"), QStringList{QStringLiteral("madison")} + aptArgs + QStringList{package});
    if (!result.succeeded)
        return {};

    QStringList versions;
    QSet<QString> seen;
    const QString output = result.standardOutputText();
    for (const QStringRef& text : output.splitRef(QLatin1Char('\n'))) {
        const std::optional<MadisonLine> line = MadisonLine::parse(text);
        if (!line || line->package != package)
            continue;
        QString version = line->version;
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
