// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "ChildProcess.h"
#include "OldKernel.h"
#include "ProcessTable.h"
#include "ScopedEnvironment.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <thread>

#include <sys/wait.h>

#include <gtest/gtest.h>

namespace {

// Shell text that writes the shell's process group (the run's group) to the
// file in %1, or to standard output.
const QString recordGroup = QStringLiteral("read -r _ _ _ _ group _ < /proc/$$/stat; echo $group > '%1'");
const QString printGroup = QStringLiteral("read -r _ _ _ _ group _ < /proc/$$/stat; echo $group");

pid_t groupIn(const QString& pidFile)
{
    QFile file(pidFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
}

} // namespace

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
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_FALSE(result.exitedCleanly());
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
        recordGroup.arg(pidFile) + QStringLiteral("; echo started >&2; (sleep 300 | sleep 301; true) | sort -u"), 1000);
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(result.standardError, QByteArray("started\n"));
    EXPECT_LT(timer.elapsed(), 10000);

    const pid_t group = groupIn(pidFile);
    ASSERT_GT(group, 0);
    EXPECT_EQ(ProcessTable::membersOfGroup(group), QList<pid_t>()) << "processes or zombies left behind";
}

TEST(ChildProcess, OutputBeyondTheLimitFailsAndEndsTheGroup)
{
    for (const char* stream : {"", ">&2"}) {
        QTemporaryDir dir;
        const QString pidFile = dir.filePath(QStringLiteral("pid"));
        QElapsedTimer timer;
        timer.start();
        const auto result = ChildProcess::runShell(
            recordGroup.arg(pidFile) + QStringLiteral("; cat /dev/zero ") + QLatin1String(stream), 20000);
        EXPECT_FALSE(result.succeeded) << stream;
        EXPECT_TRUE(result.standardOutput.isEmpty());
        EXPECT_LE(result.standardError.size(), ChildProcess::OutputLimitBytes);
        EXPECT_LT(timer.elapsed(), 10000);
        const pid_t group = groupIn(pidFile);
        ASSERT_GT(group, 0);
        EXPECT_EQ(ProcessTable::membersOfGroup(group), QList<pid_t>()) << stream;
    }
}

TEST(ChildProcess, TimeOutAsksTheGroupToEndBeforeKillingIt)
{
    // A pipeline that cleans up on SIGTERM (as sort removes its temporary
    // files) gets to do so ...
    QTemporaryDir dir;
    const QString cleaned = dir.filePath(QStringLiteral("cleaned"));
    auto result = ChildProcess::runShell(
        QStringLiteral("trap 'touch \"%1\"; exit 1' TERM; while :; do sleep 0.01; done").arg(cleaned), 300);
    EXPECT_FALSE(result.succeeded);
    EXPECT_TRUE(QFile::exists(cleaned));

    // ... and one that ignores it is killed after the grace.
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    QElapsedTimer timer;
    timer.start();
    result = ChildProcess::runShell(
        QStringLiteral("trap '' TERM; ") + recordGroup.arg(pidFile) + QStringLiteral("; sleep 300"), 300);
    EXPECT_FALSE(result.succeeded);
    EXPECT_GE(timer.elapsed(), 1000);
    EXPECT_LT(timer.elapsed(), 8000);
    EXPECT_EQ(ProcessTable::membersOfGroup(groupIn(pidFile)), QList<pid_t>());
}

TEST(ChildProcess, MemberIgnoringTerminationIsKilledAfterTheLeaderHasGone)
{
    // The leader ends on SIGTERM at once; the job it started ignores it.
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    QElapsedTimer timer;
    timer.start();
    const auto result =
        ChildProcess::runShell(QStringLiteral("(trap '' TERM; sleep 300) & echo $! > '%1'; wait").arg(pidFile), 300);
    EXPECT_FALSE(result.succeeded);
    EXPECT_GE(timer.elapsed(), 1000);
    EXPECT_LT(timer.elapsed(), 8000);
    const pid_t member = groupIn(pidFile);
    ASSERT_GT(member, 0);
    EXPECT_FALSE(ProcessTable::exists(member));
}

TEST(ChildProcess, CallerIgnoringSigchldStillLearnsTheExitStatus)
{
    // Python daemons often set SIGCHLD to SIG_IGN or SA_NOCLDWAIT, and the
    // kernel then reaps their children by itself.
    struct sigaction ignoring = {};
    ignoring.sa_handler = SIG_IGN;
    struct sigaction notWaiting = {};
    notWaiting.sa_handler = SIG_DFL;
    notWaiting.sa_flags = SA_NOCLDWAIT;
    for (const struct sigaction& action : {ignoring, notWaiting}) {
        struct sigaction previous = {};
        ::sigaction(SIGCHLD, &action, &previous);
        QElapsedTimer timer;
        timer.start();
        const auto result = ChildProcess::runShell(QStringLiteral("echo out; exit 3"), 10000);
        const auto missing = ChildProcess::run(QStringLiteral("/nonexistent/program"), {});
        const auto killed = ChildProcess::runShell(QStringLiteral("echo partial; kill -SEGV $$"), 10000);
        ::sigaction(SIGCHLD, &previous, nullptr);
        EXPECT_TRUE(result.succeeded);
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_EQ(result.standardOutput, QByteArray("out\n"));
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_FALSE(missing.succeeded);
        EXPECT_FALSE(killed.succeeded);
        EXPECT_TRUE(killed.standardOutput.isEmpty());
    }
}

TEST(ChildProcess, CallerReapingEveryChildGetsTheSameAnswers)
{
    // A SIGCHLD handler that reaps whatever has ended, as programs that run
    // children of their own have: ours are never among what it can take.
    struct sigaction reaping = {};
    reaping.sa_handler = [](int) {
        while (::waitpid(-1, nullptr, WNOHANG) > 0) { }
    };
    struct sigaction previous = {};
    ::sigaction(SIGCHLD, &reaping, &previous);
    QElapsedTimer timer;
    timer.start();
    int answered = 0;
    for (int round = 0; round < 20; ++round) {
        const auto result = ChildProcess::runShell(QStringLiteral("echo out; exit 3"), 10000);
        answered += result.succeeded && result.exitCode == 3 && result.standardOutput == "out\n";
    }
    const auto killed = ChildProcess::runShell(QStringLiteral("kill -KILL $$"), 10000);
    ::sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_EQ(answered, 20);
    EXPECT_FALSE(killed.succeeded);
    EXPECT_LT(timer.elapsed(), 10000);
}

TEST(ChildProcess, ChildrenRunInTheCLocaleWithoutTheCallersShellSettings)
{
    ScopedEnvironment environment;
    const QByteArray kept = "APT_CONFIG=/srv/caf\xe9/apt.conf";
    environment.set("APT_CONFIG", kept.mid(11));
    for (const char* name :
         {"LANG", "LANGUAGE", "LC_MESSAGES", "LC_ALL", "SHELLOPTS", "BASHOPTS", "POSIXLY_CORRECT", "BASH_FUNC_echo%%"})
        environment.set(name, "x");
    environment.set("BASH_ENV", "/dev/null");
    const QList<QByteArray> inherited = ChildProcess::run(QStringLiteral("env"), {}).standardOutput.split('\n');
    EXPECT_TRUE(inherited.contains(kept));
    EXPECT_TRUE(inherited.contains("LC_ALL=C"));
    for (const QByteArray& entry : inherited)
        EXPECT_FALSE(entry.startsWith("LANG") || (entry.startsWith("LC_") && entry != "LC_ALL=C")
                     || entry.startsWith("BASH") || entry.contains("OPTS=") || entry.startsWith("POSIXLY"))
            << entry.constData();
}

TEST(ChildProcess, SandboxRefusingPidfdsGetsTheSameAnswers)
{
    // Container filters answer EPERM or ENOSYS for what they do not know.
    for (const int error : {EPERM, ENOSYS}) {
        EXPECT_EXIT(
            {
                if (!OldKernel::simulate(error))
                    std::_Exit(2);
                const auto result = ChildProcess::runShell(QStringLiteral("echo out; exit 3"), 10000);
                std::_Exit(result.succeeded && result.exitCode == 3 && result.standardOutput == "out\n" ? 0 : 1);
            },
            testing::ExitedWithCode(0), "")
            << error;
    }
}

TEST(ChildProcess, InterruptedProgramEndsItsChildrenAndExitsWithTheSignal)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        EXPECT_EXIT(
            {
                ::signal(signal, SIG_DFL); // a test runner may have been started with it ignored
                ChildProcess::endChildrenOnInterrupt();
                std::thread([&] {
                    while (groupIn(pidFile) == 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    ::kill(::getpid(), signal);
                }).detach();
                ChildProcess::runShell(recordGroup.arg(pidFile) + QStringLiteral("; sleep 30"), 60000);
                std::_Exit(0);
            },
            testing::ExitedWithCode(128 + signal), "")
            << signal;
        const pid_t group = groupIn(pidFile);
        ASSERT_GT(group, 0);
        EXPECT_EQ(ProcessTable::membersOfGroup(group, false), QList<pid_t>()) << signal;
        QFile::remove(pidFile);
    }
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
    const auto result = ChildProcess::runShell(printGroup + QStringLiteral("; sleep 30 & echo after"), 20000);
    EXPECT_TRUE(result.succeeded);
    EXPECT_LT(timer.elapsed(), 10000);
    const QList<QByteArray> lines = result.standardOutput.split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines.at(1), QByteArray("after"));
    // Orphaned when the shell ended, its remains belong to init, which need
    // not reap them; it must not be running any more.
    EXPECT_EQ(ProcessTable::membersOfGroup(lines.at(0).toInt(), false), QList<pid_t>());
}

TEST(ChildProcess, ArgumentBytesSurviveTextThatCannotHoldThem)
{
    QByteArray bytes;
    QRandomGenerator random(11);
    for (int i = 0; i < 4096; ++i)
        bytes += static_cast<char>(random.bounded(1, 256));
    EXPECT_EQ(ChildProcess::bytesFromText(ChildProcess::textFromBytes(bytes)), bytes);
    EXPECT_EQ(ChildProcess::bytesFromText(ChildProcess::textFromBytes(bytes, true)), bytes);
    EXPECT_EQ(ChildProcess::textFromBytes("caf\xc3\xa9 latin\xe9", true), QStringLiteral("café latin") + QChar(0xdce9));

    // And reach the program so.
    const auto echoed =
        ChildProcess::run(QStringLiteral("printf"), {QStringLiteral("%s"), ChildProcess::textFromBytes(bytes)});
    EXPECT_EQ(echoed.standardOutput, bytes);
}
