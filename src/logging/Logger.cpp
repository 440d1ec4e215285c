#include "Logger.h"

#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool isControl(QChar character)
{
    const ushort code = character.unicode();
    return (code < 0x20 && code != '\t') || code == 0x7f;
}

// A message is one physical line, whatever it holds: text that came from a
// repository or a child's standard error must not start a line of its own
// (a forged "2099-01-01 00:00:00 - Update is linear") or reach a terminal as
// escape sequences. Control characters other than tab become visible escapes.
QString asOneLine(const QString& message)
{
    if (std::none_of(message.cbegin(), message.cend(), isControl))
        return message;
    QString line;
    line.reserve(message.size() + 16);
    for (const QChar character : message) {
        if (!isControl(character))
            line += character;
        else if (character == QLatin1Char('\n'))
            line += QLatin1String("\\n");
        else if (character == QLatin1Char('\r'))
            line += QLatin1String("\\r");
        else
            line += QLatin1String("\\x") + QString::number(character.unicode(), 16).rightJustified(2, QLatin1Char('0')).toUpper();
    }
    return line;
}

} // namespace

Logger::Logger(QString const& logFile, Logger::Level level)
    : m_logFile(logFile)
    , m_level(level)
{
}

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

void Logger::writeToFileIfSatisfied(QString const& message, Logger::Level level) const
{
    if (level < m_level)
        return;
    // Nothing to open, or a path that a NUL would cut short: the line is lost.
    if (m_logFile.isEmpty() || m_logFile.contains(QChar(0)))
        return;
    const QByteArray line = (QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                              + QLatin1String(" - ") + asOneLine(message) + QLatin1Char('\n'))
                                 .toLocal8Bit();
    // Never blocks: a FIFO without a reader (ENXIO) or with a full buffer
    // loses the line. Appending needs no seek, so pipes and terminals work.
    // Not inherited by the children that the checks start.
    const int fd = ::open(QFile::encodeName(m_logFile).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return;
    for (qint64 written = 0; written < line.size();) {
        const ssize_t count = ::write(fd, line.constData() + written, static_cast<size_t>(line.size() - written));
        if (count > 0)
            written += count;
        else if (count == 0 || errno != EINTR)
            break;
    }
    ::close(fd);
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
