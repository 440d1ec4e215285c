// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "Logger.h"

#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Characters that end a line for some reader, move a terminal's cursor or
// start an escape sequence: C0 controls but tab, DEL and C1 controls (NEL
// among them), the Unicode line and paragraph separators; a lone U+DC80
// to U+DCFF, which stands for a byte that was not valid text; and the
// backslash itself, so that every escape can be undone.
bool needsEscape(const QString& text, int at)
{
    const ushort code = text.at(at).unicode();
    return code == '\\' || (code < 0x20 && code != '\t') || (code >= 0x7f && code <= 0x9f) || code == 0x2028
        || code == 0x2029 || (code >= 0xdc80 && code <= 0xdcff && (at == 0 || !text.at(at - 1).isHighSurrogate()));
}

QString hex(uint value, int digits)
{
    return QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper();
}

} // namespace

QString Logger::escaped(QString const& text)
{
    int first = 0;
    while (first < text.size() && !needsEscape(text, first))
        ++first;
    if (first == text.size())
        return text;
    QString line = text.left(first);
    line.reserve(text.size() + 16);
    for (int at = first; at < text.size(); ++at) {
        const ushort code = text.at(at).unicode();
        if (!needsEscape(text, at))
            line += text.at(at);
        else if (code == '\\')
            line += QLatin1String("\\\\");
        else if (code == '\n')
            line += QLatin1String("\\n");
        else if (code == '\r')
            line += QLatin1String("\\r");
        else if (code >= 0xdc80 && code <= 0xdcff)
            line += QLatin1String("\\x") + hex(code - 0xdc00, 2);
        else if (code >= 0x80)
            // C1 controls too: "\xHH" above 7F is a byte that was not text.
            line += QLatin1String("\\u") + hex(code, 4);
        else
            line += QLatin1String("\\x") + hex(code, 2);
    }
    return line;
}

Logger::Logger(QString const& logFile, Logger::Level level)
    : m_logFile(logFile)
    , m_level(level)
{ }

void Logger::setLevel(Logger::Level level)
{
    m_level = level;
}

void Logger::setLevel(QString const& name)
{
    if (name == QLatin1String("debug"))
        setLevel(Debug);
    else if (name == QLatin1String("info"))
        setLevel(Info);
    else if (name == QLatin1String("warning"))
        setLevel(Warning);
    else if (name == QLatin1String("error"))
        setLevel(Error);
    else
        setLevel(Info);
}

void Logger::setLogFile(QString const& logFile)
{
    m_logFile = logFile;
}

namespace {
// Shared by every Logger: the process's one count.
std::atomic<quint64> lostLineCount{0};
} // namespace

void Logger::writeToFileIfSatisfied(QString const& message, Logger::Level level) const
{
    if (level < m_level)
        return;
    // Nothing to open, or a path that a NUL would cut short: the line is lost.
    if (m_logFile.isEmpty() || m_logFile.contains(QChar(0)))
        return;
    const QByteArray line = (QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                             + QLatin1String(" - ") + escaped(message) + QLatin1Char('\n'))
                                .toLocal8Bit();
    // Never blocks: a FIFO without a reader (ENXIO) or with a full buffer
    // loses the line. Appending needs no seek, so pipes and terminals work.
    // Not inherited by the children that the checks start.
    const int fd = ::open(QFile::encodeName(m_logFile).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    qint64 written = 0;
    while (fd >= 0 && written < line.size()) {
        const ssize_t count = ::write(fd, line.constData() + written, static_cast<size_t>(line.size() - written));
        if (count > 0)
            written += count;
        else if (count == 0 || errno != EINTR)
            break;
    }
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
        written = -1;
    if (written != line.size())
        ++lostLineCount;
}

quint64 Logger::lostLines()
{
    return lostLineCount;
}

void Logger::debug(QString const& message) const
{
    writeToFileIfSatisfied(message, Debug);
}

void Logger::debug(QString const& key, QString const& value) const
{
    // One substitution pass: a "%1" inside the key must not swallow the value.
    debug(QStringLiteral("%1: %2").arg(key, value));
}

void Logger::debug(QString const& key, QString const& value, int number) const
{
    debug(key, QStringLiteral("%1 = %2").arg(value, QString::number(number)));
}

void Logger::info(QString const& message) const
{
    writeToFileIfSatisfied(message, Info);
}

void Logger::warning(QString const& message) const
{
    writeToFileIfSatisfied(message, Warning);
}

void Logger::error(QString const& message) const
{
    writeToFileIfSatisfied(message, Error);
}
