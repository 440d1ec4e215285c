// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "LogFile.h"
#include "Logger.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Writes one line of every kind and returns the messages that reached the file.
QStringList writeAllKinds(Logger::Level threshold)
{
    LogFile log(threshold);
    log.logger()->debug(QStringLiteral("d"));
    log.logger()->info(QStringLiteral("i"));
    log.logger()->warning(QStringLiteral("w"));
    log.logger()->error(QStringLiteral("e"));
    return log.messages();
}

Logger::Level levelAfter(const QString& word)
{
    // A probe logger at Error, then the word: the level is found by what
    // passes the threshold.
    LogFile log(Logger::Error);
    log.logger()->setLevel(word);
    log.logger()->debug(QStringLiteral("0"));
    log.logger()->info(QStringLiteral("10"));
    log.logger()->warning(QStringLiteral("20"));
    log.logger()->error(QStringLiteral("30"));
    const QStringList written = log.messages();
    return static_cast<Logger::Level>(written.isEmpty() ? -1 : written.first().toInt());
}

} // namespace

TEST(Logger, ThresholdDecidesWhichKindsAreWritten)
{
    const QStringList all{QStringLiteral("d"), QStringLiteral("i"), QStringLiteral("w"), QStringLiteral("e")};
    EXPECT_EQ(writeAllKinds(Logger::Debug), all);
    EXPECT_EQ(writeAllKinds(Logger::Info), all.mid(1));
    EXPECT_EQ(writeAllKinds(Logger::Error), QStringList{QStringLiteral("e")});
    EXPECT_EQ(writeAllKinds(static_cast<Logger::Level>(15)), all.mid(2));
    EXPECT_EQ(writeAllKinds(static_cast<Logger::Level>(31)), QStringList());
    EXPECT_EQ(writeAllKinds(static_cast<Logger::Level>(-5)), all);
}

TEST(Logger, LevelWordsAreCaseSensitiveAndUnknownWordsGiveInfo)
{
    EXPECT_EQ(levelAfter(QStringLiteral("debug")), Logger::Debug);
    EXPECT_EQ(levelAfter(QStringLiteral("info")), Logger::Info);
    EXPECT_EQ(levelAfter(QStringLiteral("warning")), Logger::Warning);
    EXPECT_EQ(levelAfter(QStringLiteral("error")), Logger::Error);
    for (const char* word : {"Warning", "WARNING", "Error", "", "verbose"})
        EXPECT_EQ(levelAfter(QString::fromLatin1(word)), Logger::Info) << word;
}

TEST(Logger, DebugFormsJoinKeyValueAndNumber)
{
    LogFile log;
    log.logger()->debug(QStringLiteral("K"), QStringLiteral("V"));
    log.logger()->debug(QStringLiteral("K"), QStringLiteral("V"), -5);
    log.logger()->debug(QStringLiteral("K"), QStringLiteral("V"), 42);
    // Placeholders inside the parts are text, not further substitutions.
    log.logger()->debug(QStringLiteral("f(%1)"), QStringLiteral("v=%2"));
    EXPECT_EQ(log.messages(),
              (QStringList{QStringLiteral("K: V"), QStringLiteral("K: V = -5"), QStringLiteral("K: V = 42"),
                           QStringLiteral("f(%1): v=%2")}));
}

TEST(Logger, LineCarriesLocalTimestampThenSeparator)
{
    LogFile log;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    log.logger()->info(QStringLiteral("hello"));
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    ASSERT_EQ(log.lines().size(), 1);
    const QString line = log.lines().first();
    ASSERT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d - hello$"))
                    .match(line)
                    .hasMatch())
        << line.toStdString();
    const QDateTime stamp = QDateTime::fromString(line.left(19), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    EXPECT_TRUE(stamp >= before.addMSecs(-before.time().msec()) && stamp <= after);
}

TEST(Logger, AppendsOldestFirstAndNeverTruncates)
{
    LogFile log;
    ASSERT_FALSE(log.exists());
    log.logger()->error(QStringLiteral("first"));
    log.logger()->error(QStringLiteral("second"));
    EXPECT_EQ(log.messages(), (QStringList{QStringLiteral("first"), QStringLiteral("second")}));

    // Another writer in between, and the file removed: every line lands at the end.
    {
        QFile file(log.path());
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("2000-01-01 00:00:00 - other\n");
    }
    log.logger()->error(QStringLiteral("third"));
    EXPECT_EQ(log.messages().last(), QStringLiteral("third"));
    EXPECT_EQ(log.messages().size(), 4);
    QFile::remove(log.path());
    log.logger()->error(QStringLiteral("again"));
    EXPECT_EQ(log.messages(), QStringList{QStringLiteral("again")});
}

TEST(Logger, EveryMessageIsOnePhysicalLineThatCannotForgeAnother)
{
    LogFile log;
    // What a repository's Version field or a child's standard error may hold.
    log.logger()->error(QStringLiteral("1.9.0\r\n2099-01-01 00:00:00 - Update is linear"));
    log.logger()->info(QStringLiteral("tab\tstays, \x1b[2Jescape\x7f\x01") + QChar(0) + QStringLiteral("end"));
    log.logger()->info(QString());
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines.at(0).endsWith(QStringLiteral(" - 1.9.0\\r\\n2099-01-01 00:00:00 - Update is linear")));
    EXPECT_TRUE(lines.at(1).endsWith(QStringLiteral(" - tab\tstays, \\x1B[2Jescape\\x7F\\x01\\x00end")));
    EXPECT_TRUE(lines.at(2).endsWith(QStringLiteral(" - ")));
    EXPECT_EQ(lines.at(2).size(), 22);
}

TEST(Logger, FifoWithoutReaderLosesTheLineWithoutBlocking)
{
    LogFile log;
    const QByteArray fifo = QFile::encodeName(log.path());
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    Logger logger(log.path(), Logger::Debug);
    logger.error(QStringLiteral("nobody reads this")); // used to hang in open()

    // With a reader, the line arrives whole.
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    logger.error(QStringLiteral("read"));
    char buffer[256] = {};
    const ssize_t count = ::read(reader, buffer, sizeof buffer - 1);
    ::close(reader);
    ASSERT_GT(count, 0);
    EXPECT_TRUE(QByteArray(buffer, static_cast<int>(count)).endsWith(" - read\n"));
}

TEST(Logger, UnopenablePathLosesTheLineQuietly)
{
    LogFile log;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Logger emptyPath(QString(), Logger::Debug);
    emptyPath.error(QStringLiteral("lost"));
    Logger withNul(log.path() + QChar(0) + QStringLiteral("x"), Logger::Debug);
    withNul.error(QStringLiteral("lost"));
    Logger missingDirectory(log.path() + QStringLiteral(".d/none/x.log"), Logger::Debug);
    missingDirectory.error(QStringLiteral("lost"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(QFile::exists(log.path() + QStringLiteral(".d")));
    EXPECT_FALSE(log.exists()) << "a path with a NUL must not be cut short";

    // The next line, to a path that works again, is written.
    missingDirectory.setLogFile(log.path());
    missingDirectory.error(QStringLiteral("kept"));
    EXPECT_EQ(log.messages(), QStringList{QStringLiteral("kept")});
}

TEST(Logger, ChangesOfPathAndLevelTakeEffectWithTheNextLine)
{
    LogFile first;
    LogFile second;
    Logger logger(first.path(), Logger::Error);
    logger.info(QStringLiteral("dropped"));
    logger.setLevel(Logger::Info);
    logger.info(QStringLiteral("to first"));
    logger.setLogFile(second.path());
    logger.info(QStringLiteral("to second"));
    EXPECT_EQ(first.messages(), QStringList{QStringLiteral("to first")});
    EXPECT_EQ(second.messages(), QStringList{QStringLiteral("to second")});
}

TEST(Logger, EscapesWhatEndsALineForAnyReader)
{
    // C1 controls (NEL among them), the line and paragraph separators, and a
    // byte that was not valid text; a character outside the BMP whose low
    // surrogate lies in that range stays itself.
    const QString beyond = QString::fromUcs4(U"\U00010080");
    EXPECT_EQ(Logger::escaped(QStringLiteral("a\u0085b\u009bc\u2028d\u2029e") + QChar(0xdce9) + beyond
                              + QStringLiteral("\t")),
              QStringLiteral("a\\u0085b\\u009Bc\\u2028d\\u2029e\\xE9") + beyond + QStringLiteral("\t"));
    EXPECT_EQ(Logger::escaped(QStringLiteral("plain text, é")), QStringLiteral("plain text, é"));
}

// What a reader of the log does to get the text back.
QString unescaped(const QString& line)
{
    QString text;
    for (int at = 0; at < line.size(); ++at) {
        if (line.at(at) != QLatin1Char('\\') || at + 1 == line.size()) {
            text += line.at(at);
            continue;
        }
        const QChar kind = line.at(++at);
        if (kind == QLatin1Char('x') || kind == QLatin1Char('u')) {
            const int digits = kind == QLatin1Char('x') ? 2 : 4;
            const uint code = line.mid(at + 1, digits).toUInt(nullptr, 16);
            // "\xHH" above 7F is a byte that was not text: the code point
            // that stands for it.
            text += QChar(kind == QLatin1Char('x') && code >= 0x80 ? 0xdc00 + code : code);
            at += digits;
        } else {
            text += kind == QLatin1Char('n') ? QChar(QLatin1Char('\n'))
                : kind == QLatin1Char('r')   ? QChar(QLatin1Char('\r'))
                                             : kind;
        }
    }
    return text;
}

TEST(Logger, EscapesABackslashSoThatEveryEscapeCanBeUndone)
{
    // Text that looks like an escape is told apart from what it looks like.
    const struct {
        QString text;
        QString escaped;
    } cases[] = {
        {QStringLiteral("a\\u2028FAKE"), QStringLiteral("a\\\\u2028FAKE")},
        {QStringLiteral("a\u2028FAKE"), QStringLiteral("a\\u2028FAKE")},
        {QStringLiteral("file:/srv/\\xE9"), QStringLiteral("file:/srv/\\\\xE9")},
        {QStringLiteral("file:/srv/") + QChar(0xdce9), QStringLiteral("file:/srv/\\xE9")},
        {QStringLiteral("C:\\\\n"), QStringLiteral("C:\\\\\\\\n")},
        {QStringLiteral("end\\"), QStringLiteral("end\\\\")},
        // NEL as a character, and the byte 0x85 that was not text.
        {QStringLiteral("a\u0085b") + QChar(0xdc85), QStringLiteral("a\\u0085b\\x85")},
        {QStringLiteral("\x1b[2J\x7f"), QStringLiteral("\\x1B[2J\\x7F")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Logger::escaped(c.text), c.escaped) << c.text.toStdString();
        EXPECT_EQ(unescaped(Logger::escaped(c.text)), c.text) << c.text.toStdString();
    }
}
