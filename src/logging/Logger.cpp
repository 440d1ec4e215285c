#include "Logger.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>

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
    // Qt would warn on standard error about these; the line is simply lost.
    if (m_logFile.isEmpty() || m_logFile.contains(QChar(0)))
        return;
    QFile file(m_logFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
           << QLatin1String(" - ") << message << Qt::endl;
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
