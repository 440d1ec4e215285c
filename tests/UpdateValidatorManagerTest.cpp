// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptWorld.h"
#include "FakeAptCache.h"
#include "LogFile.h"
#include "ScopedEnvironment.h"
#include "UpdateValidatorManager.h"

#include <atomic>
#include <thread>

#include <sys/wait.h>

#include <gtest/gtest.h>

namespace {

QStringList sorted(QStringList list)
{
    std::sort(list.begin(), list.end());
    return list;
}

QSet<QString> setOf(const QStringList& list)
{
    return QSet<QString>(list.cbegin(), list.cend());
}

// Together, the refusals' sources are exactly the invalid sources.
void expectRefusalsAgreeWithSources(const UpdateValidatorManager& manager)
{
    QSet<QString> fromRefusals;
    for (const Refusal& refusal : manager.getRefusals())
        fromRefusals.unite(setOf(refusal.sources));
    EXPECT_EQ(fromRefusals, setOf(manager.getAllInvalidSources()));
}

} // namespace

TEST(UpdateValidatorManager, RefusesMajorJumpAndForbiddenHotfixWithSourcesOfBoth)
{
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("main"), QStringLiteral("1.7.5"), {QStringLiteral("1.0+v1.7.5")}},
                    {QStringLiteral("next"), QStringLiteral("1.8.0"), {QStringLiteral("1.0+v1.8.0")}},
                    {QStringLiteral("fix"), QStringLiteral("1.6.0.hotfix2"), {}}});
    LogFile log(Logger::Info);
    UpdateValidatorManager manager(log.logger(), std::vector<std::string>{});
    EXPECT_TRUE(manager.getAllInvalidSources().isEmpty());

    EXPECT_FALSE(manager.check());
    EXPECT_EQ(sorted(manager.getAllInvalidSources()),
              sorted({world.url(QStringLiteral("next")), world.url(QStringLiteral("fix"))}));
    EXPECT_EQ(
        log.messages(),
        (QStringList{QStringLiteral("Error: The versions of the available latest update is different, it's prohibited"),
                     QStringLiteral("Hotfix check failed"), QStringLiteral("Forbidden version = 1.6.0.hotfix2")}));
}

TEST(UpdateValidatorManager, CallerWithAThreadReapingEveryChildGetsTheSameAnswers)
{
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("main"), QStringLiteral("1.7.5"), {QStringLiteral("1.0+v1.7.5")}},
                    {QStringLiteral("next"), QStringLiteral("1.8.0"), {QStringLiteral("1.0+v1.8.0")}}});
    std::atomic<bool> done{false};
    std::thread reaper([&] {
        while (!done)
            if (::waitpid(-1, nullptr, WNOHANG) <= 0)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
    });
    int wrong = 0;
    for (int round = 0; round < 50; ++round) {
        UpdateValidatorManager manager(nullptr, std::vector<std::string>{});
        wrong += manager.check() || manager.getAllInvalidSources() != QStringList{world.url(QStringLiteral("next"))};
    }
    done = true;
    reaper.join();
    EXPECT_EQ(wrong, 0);
}

TEST(UpdateValidatorManager, RunsTheHotfixCheckAfterALinearRefusal)
{
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("next"), QStringLiteral("1.7.5"), {QStringLiteral("1.0+v1.8.0")}}});
    LogFile log;
    UpdateValidatorManager manager(log.logger(), QStringList());
    EXPECT_FALSE(manager.check());
    EXPECT_EQ(manager.getAllInvalidSources(), QStringList{world.url(QStringLiteral("next"))});
    EXPECT_TRUE(log.messages().contains(QStringLiteral("virtual bool HotfixValidator::check()")));

    // Once the offered versions keep to the line, nothing is refused any more.
    manager.setAvailableVersions({QStringLiteral("1.7.5")});
    EXPECT_TRUE(manager.check());
    EXPECT_TRUE(manager.getAllInvalidSources().isEmpty());
}

TEST(UpdateValidatorManager, SourceRefusedByBothIsListedOnce)
{
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("bad"), QStringLiteral("1.6.0.hotfix"), {QStringLiteral("1.0+v1.8.0")}}});
    UpdateValidatorManager manager(nullptr, QStringList());
    EXPECT_FALSE(manager.check());
    EXPECT_EQ(manager.getAllInvalidSources(), QStringList{world.url(QStringLiteral("bad"))});
}

TEST(UpdateValidatorManager, DecodesArgumentsAsUtf8AndAsksAptEachQuestionOncePerVerdict)
{
    FakeAptCache fake;
    fake.setStdout(QStringLiteral("madison"), "orvel-version | 1.0+v1.7.5 | file:/srv ./ Packages\n");
    fake.setStdout(QStringLiteral("policy"), " 500 file:/srv ./ Packages\n     release v=1.7.5,o=O\n");
    const std::string accented = "Dir::Etc::sourcelist=/srv/\xc3\xa9t\xc3\xa9.list";
    UpdateValidatorManager manager(nullptr, std::vector<std::string>{"-o", accented});
    manager.setCurrentOrvelVersion(QStringLiteral("1.7.2"));
    EXPECT_TRUE(manager.check());
    const QVector<QStringList> calls = fake.calls();
    // madison for the package manager, then apt's package files with their
    // releases and showpkg (every architecture, providers) for the linear
    // validator, which answer the hotfix one too; the check() asks nothing
    // more.
    ASSERT_EQ(calls.size(), 3);
    const QString decoded = QStringLiteral("Dir::Etc::sourcelist=/srv/\u00e9t\u00e9.list");
    const QStringList withArguments{QStringLiteral("-o"), decoded};
    EXPECT_EQ(calls.at(0),
              QStringList{QStringLiteral("madison")} + withArguments + QStringList{QStringLiteral("orvel-version")});
    EXPECT_EQ(calls.at(1).mid(0, 3), QStringList{QStringLiteral("indextargets")} + withArguments);
    EXPECT_EQ(calls.at(2),
              QStringList{QStringLiteral("showpkg")} + withArguments + QStringList{QStringLiteral("orvel-version:*")});
    // A later check() is a new verdict: apt is asked again, once.
    EXPECT_TRUE(manager.check());
    QStringList again;
    for (const QStringList& call : fake.calls().mid(3))
        again << call.first();
    EXPECT_EQ(again, (QStringList{QStringLiteral("indextargets"), QStringLiteral("showpkg")}));

    // A NUL byte is kept, so that argument is never run cut short: the
    // hotfix query fails and the manager refuses.
    const int before = fake.calls().size();
    UpdateValidatorManager withNul(nullptr, std::vector<std::string>{std::string("-o\0x", 4)});
    EXPECT_EQ(fake.calls().size(), before);
    EXPECT_FALSE(withNul.check());
}

TEST(UpdateValidatorManager, VerdictAndSourcesComeFromTheConfigurationGivenByArguments)
{
    AptWorld other(QStringLiteral("1.7.2"),
                   {{QStringLiteral("main"), QStringLiteral("1.7.5"), {QStringLiteral("1.0+v1.7.5")}},
                    {QStringLiteral("next"), QStringLiteral("1.8.0.hotfix1"), {QStringLiteral("1.0+v1.8.0")}}});
    // Made last, so the active one: apt reads it unless told otherwise.
    AptWorld active(QStringLiteral("1.7.2"), {{QStringLiteral("innocent"), QStringLiteral("1.8.0"), {}}});
    UpdateValidatorManager manager(nullptr, QStringList{QStringLiteral("-c"), other.aptConfig()});
    EXPECT_FALSE(manager.check());
    EXPECT_EQ(manager.getAllInvalidSources(), QStringList{other.url(QStringLiteral("next"))});
}

TEST(UpdateValidatorManager, RefusesWhenAptCannotBeRun)
{
    AptWorld world(QStringLiteral("1.7.2"), {{QStringLiteral("fix"), QStringLiteral("1.6.0.hotfix1"), {}}});
    ScopedEnvironment environment;
    environment.set("PATH", "/nonexistent");
    LogFile log(Logger::Error);
    UpdateValidatorManager manager(log.logger(), QStringList());
    EXPECT_FALSE(manager.check());
    EXPECT_TRUE(log.messages().contains(QStringLiteral("Linear check failed")));
    EXPECT_TRUE(log.messages().contains(QStringLiteral("Hotfix check failed")));
}

TEST(UpdateValidatorManager, RefusalsNameVersionRuleAndSourcesOfEveryRefusedVersion)
{
    // "fix" is refused by both checks: its release is a forbidden hotfix and
    // it offers the major jump too.
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("main"), QStringLiteral("1.7.5"), {QStringLiteral("1.0+v1.7.5")}},
                    {QStringLiteral("next"),
                     QStringLiteral("1.8.0"),
                     {QStringLiteral("1.0+v1.8.0"), QStringLiteral("1.0+v2.7.0")}},
                    {QStringLiteral("fix"), QStringLiteral("1.6.0.hotfix1"), {QStringLiteral("1.0+v1.8.0")}}});
    const QString next = world.url(QStringLiteral("next"));
    const QString fix = world.url(QStringLiteral("fix"));
    const QString installed = QStringLiteral("1.7.2");
    UpdateValidatorManager manager(nullptr, QStringList());
    EXPECT_TRUE(manager.getRefusals().isEmpty());
    EXPECT_EQ(manager.getCurrentOrvelVersion(), installed);

    EXPECT_FALSE(manager.check());
    // Within a check in version order, whatever order apt offers them in.
    const QVector<Refusal> expected{
        {QStringLiteral("linear"), QStringLiteral("major-version-changed"), QStringLiteral("1.8.0"), installed,
         sorted({next, fix}), QStringLiteral("1.8.0 changes the major version of the installed 1.7.2")},
        {QStringLiteral("linear"),
         QStringLiteral("design-version-changed"),
         QStringLiteral("2.7.0"),
         installed,
         {next},
         QStringLiteral("2.7.0 changes the design version of the installed 1.7.2")},
        {QStringLiteral("hotfix"),
         QStringLiteral("hotfix-not-allowed"),
         QStringLiteral("1.6.0.hotfix1"),
         installed,
         {fix},
         QStringLiteral("1.6.0.hotfix1 is a hotfix of neither the installed 1.7.2 nor an offered regular release")},
    };
    QVector<Refusal> refusals = manager.getRefusals();
    ASSERT_EQ(refusals.size(), expected.size());
    // The same sources as the sources list names them: a flat repository's
    // suite is "./".
    for (Refusal& refusal : refusals) {
        QStringList files;
        for (const QString& source : qAsConst(refusal.sources))
            files << source + QStringLiteral(" ./");
        EXPECT_EQ(refusal.packageFiles, files);
        refusal.packageFiles.clear();
    }
    for (int i = 0; i < refusals.size(); ++i)
        EXPECT_TRUE(refusals.at(i) == expected.at(i))
            << i << ": " << refusals.at(i).rule.toStdString() << " " << refusals.at(i).version.toStdString() << " "
            << refusals.at(i).sources.join(QLatin1Char(' ')).toStdString();
    expectRefusalsAgreeWithSources(manager);

    // A version offered twice is one refusal; every check rebuilds them.
    manager.setAvailableVersions({QStringLiteral("1.8.0"), QStringLiteral("1.8.0")});
    EXPECT_FALSE(manager.check());
    EXPECT_EQ(manager.getRefusals().size(), 1);
    manager.setAvailableVersions({QStringLiteral("1.7.5")});
    EXPECT_TRUE(manager.check());
    EXPECT_TRUE(manager.getRefusals().isEmpty());
}

TEST(UpdateValidatorManager, FailedQueriesAreRefusalsWithoutVersionOrSource)
{
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("next"), QStringLiteral("1.8.0"), {QStringLiteral("1.0+v1.8.0")}}});
    world.breakSourcesList();
    UpdateValidatorManager manager(nullptr, QStringList());
    EXPECT_FALSE(manager.check());
    const QVector<Refusal> refusals = manager.getRefusals();
    ASSERT_EQ(refusals.size(), 2);
    for (const Refusal& refusal : refusals) {
        EXPECT_EQ(refusal.rule, QStringLiteral("versions-unknown"));
        EXPECT_TRUE(refusal.version.isEmpty());
        EXPECT_TRUE(refusal.sources.isEmpty());
        EXPECT_TRUE(refusal.message.contains(QStringLiteral("installed 1.7.2"))) << refusal.message.toStdString();
    }
    EXPECT_EQ(refusals.at(0).check, QStringLiteral("linear"));
    EXPECT_EQ(refusals.at(1).check, QStringLiteral("hotfix"));
    expectRefusalsAgreeWithSources(manager);
}

TEST(UpdateValidatorManager, SettersReachEveryValidator)
{
    AptWorld world(QStringLiteral("1.7.2"), {});
    LogFile first;
    UpdateValidatorManager manager(first.logger(), QStringList());
    manager.setLogger(nullptr);
    manager.setCurrentOrvelVersion(QStringLiteral("1.8.0"));
    manager.check();
    const int linesWhileSilent = first.messages().size();

    LogFile second;
    manager.setLogger(second.logger());
    manager.setCurrentOrvelVersion(QStringLiteral("1.8.1"));
    manager.setAvailableVersions({QStringLiteral("1.8.2"), QStringLiteral("1.8.0.hotfix")});
    EXPECT_FALSE(manager.check());

    EXPECT_EQ(first.messages().size(), linesWhileSilent);
    const QStringList messages = second.messages();
    EXPECT_EQ(messages.count(QStringLiteral("void UpdateValidator::setCurrentOrvelVersion(const QString&): "
                                            "current orvel version = 1.8.1")),
              2);
    EXPECT_EQ(messages.count(QStringLiteral("void UpdateValidator::setAvailableVersions(const QStringList&): "
                                            "available orvel version = 1.8.2 1.8.0.hotfix")),
              2);
    // The linear check accepts 1.8.2 under 1.8.1; the hotfix check refuses 1.8.0.hotfix.
    EXPECT_TRUE(messages.contains(QStringLiteral("Update is linear")));
    EXPECT_TRUE(messages.contains(QStringLiteral("Forbidden version = 1.8.0.hotfix")));
}

TEST(UpdateValidatorManager, RequestedVersionsAreJudgedByBothChecksAndNamedByTheirSource)
{
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("main"), QStringLiteral("1.7.5"), {QStringLiteral("1.0+v1.7.5")}},
                    {QStringLiteral("next"), QStringLiteral("1.7.6"), {QStringLiteral("1.0+v1.8.0")}}});
    const QString next = world.url(QStringLiteral("next"));
    const QString localJump = QStringLiteral("/srv/orvel-version_1.0+v1.9.0_all.deb");
    const QString localHotfix = QStringLiteral("/srv/orvel-version_1.0+v1.7.1.hotfix1_all.deb");
    UpdateValidatorManager manager(nullptr, QStringList());
    manager.setRequestedVersions({{QStringLiteral("1.9.0"), localJump},
                                  {QStringLiteral("1.7.1.hotfix1"), localHotfix},
                                  {QStringLiteral("1.8.0"), QStringLiteral("/var/cache/apt/archives/x.deb")},
                                  {QStringLiteral("1.7.5"), QStringLiteral("/srv/orvel-version_1.0+v1.7.5_all.deb")}});
    EXPECT_FALSE(manager.check());

    QStringList judged;
    for (const Refusal& refusal : manager.getRefusals())
        judged << QStringLiteral("%1 %2 %3").arg(refusal.rule, refusal.version, refusal.sources.join(QLatin1Char(',')));
    // A version that a source apt lists offers is named by that source
    // alone, and judged once.
    EXPECT_EQ(judged,
              (QStringList{QStringLiteral("major-version-changed 1.8.0 ") + next,
                           QStringLiteral("major-version-changed 1.9.0 ") + localJump,
                           QStringLiteral("hotfix-not-allowed 1.7.1.hotfix1 ") + localHotfix}));
    expectRefusalsAgreeWithSources(manager);

    // A requested regular release lets its own hotfix through, as an offered one does.
    manager.setRequestedVersions(
        {{QStringLiteral("1.7.1"), QStringLiteral("/srv/a.deb")}, {QStringLiteral("1.7.1.hotfix1"), localHotfix}});
    EXPECT_FALSE(manager.check());
    EXPECT_EQ(manager.getRefusals().size(), 1);
    EXPECT_EQ(manager.getRefusals().at(0).version, QStringLiteral("1.8.0"));
}

TEST(UpdateValidatorManager, SourcesOfARunOfFiveThousandPackagesAreKnown)
{
    // 5,000 names of 60 characters: 300 KB, more than one argument of the
    // kernel's (128 KiB) can hold. Those that no source offers are in no
    // answer of madison's.
    QStringList names;
    for (int i = 0; i < 4999; ++i)
        names << QStringLiteral("orvel-package-with-a-long-name-as-some-distributions-have-%1")
                     .arg(i, 4, 10, QLatin1Char('0'));
    names << QStringLiteral("orvel-version");
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("main"), QStringLiteral("1.7.5"), {QStringLiteral("1.0+v1.7.5")}}});
    UpdateValidatorManager manager(nullptr, QStringList());
    const std::optional<QMultiHash<QString, QString>> sources = manager.sourcesOfPackages(names);
    ASSERT_TRUE(sources);
    EXPECT_EQ(sources->values(QStringLiteral("orvel-version 1.0+v1.7.5")),
              QStringList{world.url(QStringLiteral("main")) + QStringLiteral(" ./")});
    EXPECT_EQ(sources->size(), 1);
}
