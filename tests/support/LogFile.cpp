// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "LogFile.h"

#include <QFile>
#include <QRegularExpression>

#include <stdexcept>

LogFile::LogFile(Logger::Level level)
    : m_logger(std::make_shared<Logger>(m_dir.filePath(QStringLiteral("checks.log")), level))
{
    if (!m_dir.isValid())
        throw std::runtime_error("cannot create a temporary directory for the log");
}

QString LogFile::path() const
{
    return m_dir.filePath(QStringLiteral("checks.log"));
}

bool LogFile::exists() const
{
    return QFile::exists(path());
}

QStringList LogFile::lines() const
{
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList LogFile::messages() const
{
    static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d - "));
    QStringList messages;
    for (const QString& line : lines()) {
        const QRegularExpressionMatch match = stamp.match(line);
        if (!match.hasMatch())
            throw std::runtime_error("log line without a timestamp: " + line.toStdString());
        messages << line.mid(match.capturedLength());
    }
    return messages;
}
