#include "ChildProcess.h"
#include "ProcessTable.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>

#include <gtest/gtest.h>

TEST(ChildProcess, KeepsStandardOutputAndErrorApart)
{
    const auto result = ChildProcess::runShell(QStringLiteral("echo out; echo err >&2; echo more"));
    EXPECT_TRUE(result.succeeded);
    EXPECT_EQ(result.standardOutput, QByteArray("out\nmore\n"));
    EXPECT_EQ(result.standardError, QByteArray("err\n"));
}

TEST(ChildProcess, NonZeroExitCodeStillCountsAsSuccess)
{
    const auto result = ChildProcess::runShell(QStringLiteral("echo partial; exit 3"));
    EXPECT_TRUE(result.succeeded);
    EXPECT_EQ(result.standardOutput, QByteArray("partial\n"));
}

TEST(ChildProcess, ReadsOutputLargerThanAPipeBuffer)
{
    const auto result = ChildProcess::runShell(QStringLiteral("head -c 3000000 /dev/zero | tr '\\0' x"));
    EXPECT_TRUE(result.succeeded);
    EXPECT_EQ(result.standardOutput.size(), 3000000);
}

TEST(ChildProcess, ChildReadingItsInputSeesTheEndAtOnce)
{
    QElapsedTimer timer;
    timer.start();
    const auto result = ChildProcess::runShell(QStringLiteral("cat; echo done"), 10000);
    EXPECT_TRUE(result.succeeded);
    EXPECT_EQ(result.standardOutput, QByteArray("done\n"));
    EXPECT_LT(timer.elapsed(), 5000);
}

TEST(ChildProcess, ProgramThatCannotStartFails)
{
    const auto result = ChildProcess::run(QStringLiteral("/nonexistent/program"), {});
    EXPECT_FALSE(result.succeeded);
    EXPECT_TRUE(result.standardOutput.isEmpty());
}

TEST(ChildProcess, DeathBySignalFailsAndKeepsStandardError)
{
    const auto result = ChildProcess::runShell(QStringLiteral("echo visible; echo why >&2; kill -SEGV $$"));
    EXPECT_FALSE(result.succeeded);
    EXPECT_TRUE(result.standardOutput.isEmpty());
    EXPECT_EQ(result.standardError, QByteArray("why\n"));
}

TEST(ChildProcess, ArgumentWithNulIsNeverCutShortAndRun)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("created"));
    const auto direct = ChildProcess::run(QStringLiteral("touch"), {target + QChar(0) + QStringLiteral("rest")});
    EXPECT_FALSE(direct.succeeded);
    const auto shell = ChildProcess::runShell(QStringLiteral("touch '") + target + QStringLiteral("'") + QChar(0));
    EXPECT_FALSE(shell.succeeded);
    EXPECT_FALSE(QFile::exists(target));
}

TEST(ChildProcess, TimeOutKillsAndReapsTheWholePipeline)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    QElapsedTimer timer;
    timer.start();
    // A subshell with its own children, as in the versions-with-sources command.
    const auto result = ChildProcess::runShell(
        QStringLiteral("echo $$ > '%1'; echo started >&2; (sleep 300 | sleep 301; true) | sort -u").arg(pidFile),
        1000);
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(result.standardError, QByteArray("started\n"));
    EXPECT_LT(timer.elapsed(), 10000);

    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const pid_t group = file.readAll().trimmed().toInt();
    ASSERT_GT(group, 0);
    EXPECT_EQ(ProcessTable::membersOfGroup(group), QList<pid_t>()) << "processes or zombies left behind";
}

TEST(ChildProcess, ChildGetsDefaultSignalsEvenWhenTheCallerIgnoresSigpipe)
{
    // Python ignores SIGPIPE; a pipeline started from it must still end
    // quietly when its reader goes away.
    const auto previous = ::signal(SIGPIPE, SIG_IGN);
    const auto result = ChildProcess::runShell(QStringLiteral("yes | head -n 1; echo \"${PIPESTATUS[0]}\""), 10000);
    ::signal(SIGPIPE, previous);
    EXPECT_TRUE(result.succeeded);
    EXPECT_EQ(result.standardOutput, QByteArray("y\n141\n"));
    EXPECT_EQ(result.standardError, QByteArray());
}

TEST(ChildProcess, BackgroundJobsDoNotOutliveTheCall)
{
    QElapsedTimer timer;
    timer.start();
    // The job keeps the output open after the shell has ended.
    const auto result = ChildProcess::runShell(QStringLiteral("echo $$; sleep 30 & echo after"), 20000);
    EXPECT_TRUE(result.succeeded);
    EXPECT_LT(timer.elapsed(), 10000);
    const QList<QByteArray> lines = result.standardOutput.split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines.at(1), QByteArray("after"));
    // Orphaned when the shell ended, its remains belong to init, which need
    // not reap them; it must not be running any more.
    EXPECT_EQ(ProcessTable::membersOfGroup(lines.at(0).toInt(), false), QList<pid_t>());
}
