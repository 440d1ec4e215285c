// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "ProcessTable.h"

#include <QDir>
#include <QFile>

namespace ProcessTable {

QList<pid_t> membersOfGroup(pid_t group, bool includeZombies)
{
    QList<pid_t> members;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // "pid (comm) state ppid pgrp ..."
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields.at(2).toInt() == group && (includeZombies || fields.at(0) != "Z"))
            members << pid;
    }
    return members;
}

bool exists(pid_t pid)
{
    return QFile::exists(QStringLiteral("/proc/%1").arg(pid));
}

} // namespace ProcessTable
