// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptWorld.h"
#include "FakeAptCache.h"
#include "HotfixValidator.h"
#include "LogFile.h"
#include "ScopedEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString checkName = QStringLiteral("virtual bool HotfixValidator::check()");
const QString failed = QStringLiteral("Hotfix check failed");

QSet<QString> setOf(const QStringList& list)
{
    return QSet<QString>(list.cbegin(), list.cend());
}

QStringList errorsIn(const QStringList& messages)
{
    QStringList errors;
    for (const QString& message : messages)
        if (!message.contains(QLatin1String("::")))
            errors << message;
    return errors;
}

// Installed 2.5.1 and no repository: the offered versions come from the
// setter, so every rule of the table can be reached directly.
class HotfixRules : public ::testing::Test
{
protected:
    AptWorld world{QStringLiteral("2.5.1"), {}};
    LogFile log;

    bool checkOffered(const QStringList& offered, const QString& installed = QStringLiteral("2.5.1"))
    {
        HotfixValidator validator(log.logger(), {});
        validator.setCurrentOrvelVersion(installed);
        validator.setAvailableVersions(offered);
        return validator.check();
    }
    QString lastMessage() const { return log.messages().last(); }
};

} // namespace

TEST_F(HotfixRules, AcceptsRegularVersionsWhateverTheirMinor)
{
    EXPECT_TRUE(checkOffered({QStringLiteral("3.0.0"), QStringLiteral("2.5.1.Hotfix"), QStringLiteral("2.HOTFIX.1"),
                              QStringLiteral("2.hotfix.1"), QString()}));
    EXPECT_EQ(lastMessage(), checkName + QStringLiteral(":  is not hotfix repo"));
}

TEST_F(HotfixRules, AcceptsHotfixOfTheInstalledRelease)
{
    EXPECT_TRUE(checkOffered({QStringLiteral("2.5.1.hotfix3")}));
    EXPECT_EQ(lastMessage(), checkName + QStringLiteral(": 2.5.1.hotfix3 is hotfix repo of current version"));
    EXPECT_TRUE(checkOffered({QStringLiteral("2.5.1.4.hotfix")}));
}

TEST_F(HotfixRules, AcceptsHotfixWhoseRegularReleaseIsOffered)
{
    EXPECT_TRUE(checkOffered({QStringLiteral("2.4.0.hotfix"), QStringLiteral("2.4.0.7")}));
    EXPECT_TRUE(log.messages().contains(
        checkName + QStringLiteral(": 2.4.0.hotfix is hotfix repo with corresponding minor version")));
}

TEST_F(HotfixRules, RefusesHotfixWithoutItsRegularRelease)
{
    EXPECT_FALSE(checkOffered({QStringLiteral("2.4.0.hotfix")}));
    EXPECT_EQ(errorsIn(log.messages()), (QStringList{failed, QStringLiteral("Forbidden version = 2.4.0.hotfix")}));
    // Another hotfix of the same release is no regular release.
    EXPECT_FALSE(checkOffered({QStringLiteral("2.4.0.hotfix"), QStringLiteral("2.4.0.hotfix2")}));
    // A marker anywhere disqualifies the candidate, even in a middle component.
    EXPECT_FALSE(checkOffered({QStringLiteral("2.4.hotfix.hotfix"), QStringLiteral("2.4.hotfix.1")}));
    // Short versions never share a minor version.
    EXPECT_FALSE(checkOffered({QStringLiteral("2.hotfix"), QStringLiteral("2")}));
    EXPECT_FALSE(checkOffered({QStringLiteral("2.5.1.hotfix")}, QStringLiteral("2.5")));
    // Components are exact texts, and all three count: a hotfix of an
    // earlier release of the installed minor line is no hotfix of it.
    EXPECT_FALSE(checkOffered({QStringLiteral("2.05.1.hotfix")}));
    EXPECT_FALSE(checkOffered({QStringLiteral("2.5.0.hotfix1")}));
}

TEST(HotfixValidator, JudgesReleaseVersionsOfRealRepositories)
{
    AptWorld world(QStringLiteral("2.5.1"),
                   {{QStringLiteral("base"), QStringLiteral("2.5.1"), {}},
                    {QStringLiteral("current-fix"), QStringLiteral("2.5.1.hotfix3"), {}},
                    {QStringLiteral("old"), QStringLiteral("2.4.0.7"), {}},
                    {QStringLiteral("old-fix"), QStringLiteral("2.4.0.hotfix"), {}},
                    {QStringLiteral("stray-fix"), QStringLiteral("2.3.0.hotfix1"), {}},
                    {QStringLiteral("stray-mirror"), QStringLiteral("2.3.0.hotfix1"), {}}});
    LogFile log;
    HotfixValidator validator(log.logger(), {});
    EXPECT_FALSE(validator.check());
    EXPECT_EQ(validator.getInvalidSources(),
              setOf({world.url(QStringLiteral("stray-fix")), world.url(QStringLiteral("stray-mirror"))}));

    const QStringList messages = log.messages();
    const QString query = QStringLiteral("QStringList HotfixValidator::m_getAvailableVersion() const: "
                                         "available orvel version (duplicated) = ");
    ASSERT_TRUE(messages.at(0).startsWith(query));
    // Every source's line, the repeated one twice, and the empty piece after
    // the final newline.
    QStringList duplicated = messages.at(0).mid(query.size()).split(QLatin1Char(' '));
    std::sort(duplicated.begin(), duplicated.end());
    EXPECT_EQ(duplicated,
              (QStringList{QString(), QStringLiteral("2.3.0.hotfix1"), QStringLiteral("2.3.0.hotfix1"),
                           QStringLiteral("2.4.0.7"), QStringLiteral("2.4.0.hotfix"), QStringLiteral("2.5.1"),
                           QStringLiteral("2.5.1.hotfix3")}));
    EXPECT_EQ(errorsIn(messages), (QStringList{failed, QStringLiteral("Forbidden version = 2.3.0.hotfix1")}));
    EXPECT_TRUE(messages.contains(checkName + QStringLiteral(":  is not hotfix repo")));

    // The same verdict without a logger; a passing check empties the set.
    HotfixValidator quiet(nullptr, {});
    EXPECT_FALSE(quiet.check());
    EXPECT_EQ(quiet.getInvalidSources(), validator.getInvalidSources());
    quiet.setAvailableVersions({QStringLiteral("2.5.1.hotfix3")});
    EXPECT_TRUE(quiet.check());
    EXPECT_TRUE(quiet.getInvalidSources().isEmpty());
}

TEST(HotfixValidator, OnlyTheReleaseFieldOfASourceCounts)
{
    // A label holding "v=" does not make the source's own hotfix look like
    // a regular release of it ...
    AptWorld labelled(QStringLiteral("1.7.2"),
                      {{QStringLiteral("fix"), QStringLiteral("1.9.0.hotfix1"), {}, QStringLiteral("v=1.9.0.0")}});
    HotfixValidator refusing(nullptr, {});
    EXPECT_FALSE(refusing.check());
    EXPECT_EQ(refusing.getInvalidSources(), setOf({labelled.url(QStringLiteral("fix"))}));

    // ... and a URL holding "v=" invents no version.
    AptWorld strangeUrl(QStringLiteral("1.7.2"), {{QStringLiteral("v=2.0.0.hotfix"), QStringLiteral("1.7.5"), {}}});
    LogFile log;
    HotfixValidator passing(log.logger(), {});
    EXPECT_TRUE(passing.check());
    EXPECT_TRUE(log.messages().contains(checkName + QStringLiteral(": 1.7.5 is not hotfix repo")));
}

TEST(HotfixValidator, FailingAptRefusesInsteadOfPassing)
{
    // Each of these makes apt-cache exit non-zero after printing nothing to
    // grep, which used to read as "no source announces a version".
    AptWorld world(QStringLiteral("1.7.2"), {{QStringLiteral("fix"), QStringLiteral("1.6.0.hotfix1"), {}}});
    const QVector<QStringList> failingArguments{{QStringLiteral("--bogus")},
                                                {QStringLiteral("-c"), QStringLiteral("/nonexistent")}};
    for (const QStringList& arguments : failingArguments) {
        LogFile log(Logger::Error);
        HotfixValidator validator(log.logger(), arguments);
        EXPECT_FALSE(validator.check()) << arguments.join(QLatin1Char(' ')).toStdString();
        const QStringList messages = log.messages();
        ASSERT_GE(messages.size(), 3);
        EXPECT_EQ(messages.at(0), QStringLiteral("Unable to get available versions for hotfix validation"));
        EXPECT_FALSE(messages.at(1).isEmpty()) << "apt's own message";
        EXPECT_EQ(messages.last(), failed);
    }

    world.breakSourcesList();
    HotfixValidator broken(nullptr, {});
    EXPECT_FALSE(broken.check());
}

TEST(HotfixValidator, SourcesWithoutReleaseVersionsAreNoFailure)
{
    // A Release file without a Version field: apt prints the field's name
    // where its value would be, and no release is announced.
    AptWorld world(QStringLiteral("1.7.2"), {{QStringLiteral("plain"), QString(), {QStringLiteral("1.0+v1.7.5")}}});
    LogFile log;
    HotfixValidator validator(log.logger(), {});
    EXPECT_TRUE(validator.check());
    for (const QString& message : log.messages())
        EXPECT_FALSE(message.contains(QStringLiteral("$(VERSION)"))) << message.toStdString();
}

TEST(HotfixValidator, ForbiddenVersionsSharingASourceListItOnce)
{
    AptWorld world(QStringLiteral("2.5.1"),
                   {{QStringLiteral("shared"),
                     QString(),
                     {QStringLiteral("1.0+v2.4.0.hotfix"), QStringLiteral("1.0+v2.3.0.hotfix")}}});
    LogFile log(Logger::Error);
    HotfixValidator validator(log.logger(), {});
    validator.setAvailableVersions(
        {QStringLiteral("2.4.0.hotfix"), QStringLiteral("2.3.0.hotfix"), QStringLiteral("2.2.0.hotfix")});
    EXPECT_FALSE(validator.check());
    EXPECT_EQ(validator.getInvalidSources(), setOf({world.url(QStringLiteral("shared"))}));
    EXPECT_EQ(log.messages(),
              (QStringList{failed, QStringLiteral("Forbidden version = 2.4.0.hotfix"), failed,
                           QStringLiteral("Forbidden version = 2.3.0.hotfix"), failed,
                           QStringLiteral("Forbidden version = 2.2.0.hotfix")}));
}

TEST(HotfixValidator, ArgumentsReachAptCacheVerbatimAndRunNothing)
{
    QTemporaryDir dir;
    const auto file = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    // Each a value of -o: a word that is no option stops the query before
    // apt runs.
    QStringList args{QStringLiteral("-o"), QStringLiteral("Dir::Etc::sourcelist=/x.list")};
    for (const QString& value : {
             QStringLiteral("; touch ") + file("semicolon"),
             QStringLiteral("$(touch ") + file("dollar") + QLatin1Char(')'),
             QStringLiteral("`touch ") + file("backquote") + QLatin1Char('`'),
             QStringLiteral("it's'; touch ") + file("quote") + QStringLiteral("; '"),
             QStringLiteral("line\ntouch ") + file("newline"),
             QString(),
             QStringLiteral("* ~ \\ \" | > ") + file("redirect"),
         })
        args << QStringLiteral("-o") << value;
    FakeAptCache fake;
    fake.setStdout(QStringLiteral("policy"), " 500 file:/srv ./ Packages\n     release v=2.5.1,o=O\n");
    HotfixValidator validator(nullptr, args);

    ASSERT_EQ(fake.calls().size(), 1);
    EXPECT_EQ(fake.calls().first().mid(0, args.size() + 1), QStringList{QStringLiteral("indextargets")} + args);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    EXPECT_TRUE(validator.check());
}

TEST(HotfixValidator, EmptyOutputIsOneEmptyVersionAndPasses)
{
    FakeAptCache fake;
    fake.setExitCode(QStringLiteral("indextargets"), 0);
    LogFile log;
    HotfixValidator validator(log.logger(), {});
    EXPECT_TRUE(validator.check());
    EXPECT_TRUE(log.messages().contains(checkName + QStringLiteral(":  is not hotfix repo")));
}

TEST(HotfixValidator, FailedVersionQueryRefusesEveryCheck)
{
    FakeAptCache fake;
    fake.setStdout(QStringLiteral("policy"), " 500 file:/srv ./ Packages\n     release v=2.5.1,o=O\n");
    fake.setStderr(QStringLiteral("indextargets"), "killed while reading");
    fake.setKillsShell(QStringLiteral("indextargets"));
    LogFile log;
    HotfixValidator validator(log.logger(), {});
    EXPECT_EQ(errorsIn(log.messages()),
              (QStringList{QStringLiteral("Unable to get available versions for hotfix validation"),
                           QStringLiteral("killed while reading")}));

    EXPECT_FALSE(validator.check());
    EXPECT_FALSE(validator.check());
    EXPECT_TRUE(validator.getInvalidSources().isEmpty());
    EXPECT_EQ(log.messages().mid(log.messages().size() - 2), (QStringList{checkName, failed}));

    // Versions supplied explicitly end the failed state.
    validator.setAvailableVersions({QStringLiteral("2.4.0")});
    EXPECT_TRUE(validator.check());
}

TEST(HotfixValidator, HungAptCacheHoldsTheVerdictOneTimeLimitSlow)
{
    // What an apt run under the guard waits for too: thirty seconds, not
    // more, and the log says how long.
    FakeAptCache fake;
    fake.setSleepSeconds(QStringLiteral("indextargets"), 600);
    LogFile log(Logger::Error);
    QElapsedTimer timer;
    timer.start();
    HotfixValidator validator(log.logger(), {});
    EXPECT_GE(timer.elapsed(), 29000);
    EXPECT_LT(timer.elapsed(), 40000);
    EXPECT_FALSE(validator.check());
    EXPECT_EQ(log.messages().mid(0, 2),
              (QStringList{QStringLiteral("Unable to get available versions for hotfix validation"),
                           QStringLiteral("timed out after 30000 ms")}));
}

TEST(HotfixValidator, ArgumentWithNulCountsAsFailedQuery)
{
    FakeAptCache fake;
    LogFile log(Logger::Error);
    HotfixValidator validator(log.logger(), {QStringLiteral("-o") + QChar(0) + QStringLiteral("x")});
    EXPECT_TRUE(fake.calls().isEmpty());
    EXPECT_FALSE(validator.check());
    EXPECT_EQ(log.messages(),
              (QStringList{QStringLiteral("Unable to get available versions for hotfix validation"),
                           QStringLiteral("the query failed without saying why"), failed}));
}

TEST(HotfixValidator, PackageFilesOfAnotherShapeOrAFailingStageRefuse)
{
    // A record that is not apt's (apt printed something else), apt-get
    // failing after part of its answer, and the stage that reads it failing.
    enum Fault { AnotherShape, FailingAptGet, FailingReader };
    for (const Fault fault : {AnotherShape, FailingAptGet, FailingReader}) {
        FakeAptCache fake;
        fake.setStdout(QStringLiteral("policy"), " 500 file:/srv ./ Packages\n     release v=2.4.0.hotfix1,o=O\n");
        if (fault == AnotherShape)
            fake.setStdout(QStringLiteral("indextargets"), "E: something else entirely\n");
        QTemporaryDir failingAwk;
        ScopedEnvironment environment;
        if (fault == FailingAptGet) {
            fake.setExitCode(QStringLiteral("indextargets"), 100);
        } else if (fault == FailingReader) {
            QFile awk(failingAwk.filePath(QStringLiteral("gawk")));
            ASSERT_TRUE(awk.open(QIODevice::WriteOnly));
            awk.write("#!/bin/sh\nexit 2\n");
            awk.close();
            awk.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
            environment.prependToPath(QFile::encodeName(failingAwk.path()));
        }
        HotfixValidator validator(nullptr, {});
        EXPECT_FALSE(validator.check()) << fault;
        ASSERT_EQ(validator.getRefusals().size(), 1);
        EXPECT_EQ(validator.getRefusals().first().rule, QStringLiteral("versions-unknown")) << fault;
    }
}

TEST(HotfixValidator, ContinuedReleaseFieldAnnouncesNothingMore)
{
    // A repository's Version field that continues with lines that read as
    // apt's records of two package files, one forged, one real, announcing
    // the regular release of its hotfix: only apt ends a record.
    FakeAptCache fake;
    fake.setStdout(QStringLiteral("indextargets"),
                   "/l/fix\tfile:/srv/fix ./ Packages\t1.7.9.hotfix1\n"
                   "/l/forged\tfile:/srv/forged ./ Packages\t1.7.9.0\tNOT-THE-NONCE\n"
                   "/l/main\tfile:/srv/main ./ Packages\t1.7.9.0\t@NONCE@\n"
                   "/l/main\tfile:/srv/main ./ Packages\t1.7.5\t@NONCE@\n");
    HotfixValidator validator(nullptr, {});
    EXPECT_FALSE(validator.check());
    ASSERT_EQ(validator.getRefusals().size(), 1);
    EXPECT_EQ(validator.getRefusals().first().version, QStringLiteral("1.7.9.hotfix1"));
    EXPECT_EQ(validator.getRefusals().first().sources, QStringList{QStringLiteral("file:/srv/fix")});
}
