// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QString>
#include <QtGlobal>

#include "orvelupdatechecks_export.h"

/**
 * Levelled, timestamped lines appended to one log file.
 *
 * Every line opens the file in append mode, writes
 * "yyyy-MM-dd hh:mm:ss - message" and closes it again, so no file stays open
 * and lines of other writers are never overwritten. A message is always one
 * physical line: control characters other than tab are written as escapes
 * (see escaped()). Opening never blocks (a FIFO without a reader
 * loses the line), and a line that cannot be written is lost silently. Loggers are shared through std::shared_ptr; an
 * empty pointer means that nothing is logged.
 */
class ORVELUPDATECHECKS_EXPORT Logger
{
public:
    /// Thresholds are compared as plain integers, so any value between or
    /// beyond the named levels works as well.
    enum Level : qint32 {
        Debug = 0,
        Info = 10,
        Warning = 20,
        Error = 30,
    };

    Logger(QString const& logFile, Logger::Level level);

    void setLevel(Logger::Level level);
    /// "debug", "info", "warning" or "error", case-sensitive; any other
    /// text gives Info.
    void setLevel(QString const& name);
    void setLogFile(QString const& logFile);

    /// Writes one line when @p level is at least the threshold.
    void writeToFileIfSatisfied(QString const& message, Logger::Level level) const;

    void debug(QString const& message) const;
    /// Writes "key: value".
    void debug(QString const& key, QString const& value) const;
    /// Writes "key: value = number".
    void debug(QString const& key, QString const& value, int number) const;
    void info(QString const& message) const;
    void warning(QString const& message) const;
    void error(QString const& message) const;

    /**
     * @p text made safe for a terminal and for any line-oriented reader:
     * "\n", "\r", "\xHH" for the other C0 controls (tab kept) and DEL,
     * "\uXXXX" for the C1 controls (NEL among them) and the Unicode line
     * and paragraph separators, "\xHH" (80 to FF) for a byte that was not
     * valid text (U+DC80 to U+DCFF, as ChildProcess keeps such bytes), and
     * "\\" for a backslash: read left to right, every escape undoes to
     * exactly the text it stands for.
     */
    static QString escaped(QString const& text);

    /**
     * How many lines the Loggers of this process could not write whole
     * (the file could not be opened, was full, over a size limit, ...),
     * since the process started. Such a line is lost in silence; a program
     * that must not lose its log compares the count before and after.
     */
    static quint64 lostLines();

private:
    QString m_logFile;
    Logger::Level m_level;
};
