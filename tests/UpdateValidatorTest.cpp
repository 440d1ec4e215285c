// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptWorld.h"
#include "FakeAptCache.h"
#include "LogFile.h"
#include "ProcessTable.h"
#include "UpdateValidator.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

const QString parseKey =
    QStringLiteral("QMultiHash<QString, QString> UpdateValidator::parseVersionsWithSources(const QStringList&) const");

// The base has no verdict of its own; this one accepts everything.
class ProbeValidator : public UpdateValidator
{
public:
    using UpdateValidator::UpdateValidator;
    bool check() override { return true; }
    QString currentVersion() const { return m_currentOrvelVersion; }
    QStringList aptArgs() const { return m_aptArgs; }
    using UpdateValidator::runShellCommand;
};

using Pairs = QList<QPair<QString, QString>>;

Pairs sortedPairs(const QMultiHash<QString, QString>& map)
{
    Pairs pairs;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        pairs << qMakePair(it.key(), it.value());
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

} // namespace

TEST(UpdateValidator, CommandIsOnePipelineThatFailsWhenAnyStageFails)
{
    const QString command = UpdateValidator::versionsWithSourcesCommand();
    // apt-cache reads apt's configuration as apt-get does (Binary::apt-get).
    EXPECT_TRUE(command.startsWith(QStringLiteral("apt_args=(); apt-cache() { (exec -a apt-get apt-cache \"$@\"); }; "
                                                  "set -o pipefail; ({ apt-get indextargets \"${apt_args[@]}\" ")));
    EXPECT_TRUE(command.contains(QStringLiteral("apt-cache policy \"${apt_args[@]}\"; } | gawk ")));
    EXPECT_TRUE(
        command.contains(QStringLiteral(" && { provided=$(apt-cache showpkg \"${apt_args[@]}\" 'orvel-version:*' ")));
    EXPECT_TRUE(command.contains(QStringLiteral(
        "apt-cache madison \"${apt_args[@]}\" 'orvel-version:*' \"${providers[@]}\" 2>/dev/null; } | gawk -F' [|] '")));
    EXPECT_TRUE(command.endsWith(QStringLiteral("sed 's/^[^|]*+v//') | sort -u")));
}

TEST(UpdateValidator, CommandAsksAptWithTheQuotedArguments)
{
    const QString command = UpdateValidator::versionsWithSourcesCommand(
        {QStringLiteral("-o"), QStringLiteral("Dir::Etc::sourcelist=/srv/it's $(here).list")});
    const QString arguments = QStringLiteral("'-o' 'Dir::Etc::sourcelist=/srv/it'\\''s $(here).list'");
    EXPECT_TRUE(command.startsWith(QStringLiteral("apt_args=(") + arguments + QStringLiteral("); ")));
    // Once only, whatever the number of commands that use them.
    EXPECT_EQ(command.size(), UpdateValidator::versionsWithSourcesCommand().size() + arguments.size());
}

TEST(UpdateValidator, ParsesVersionSourceLines)
{
    LogFile log;
    ProbeValidator validator(log.logger(), {});
    const QString u = QStringLiteral("file:/srv/repo");
    const QMultiHash<QString, QString> map = validator.parseVersionsWithSources({
        QStringLiteral("1.7.5|") + u,
        QStringLiteral("  1.7.5.16 | ") + u + QStringLiteral(" ./ Packages"),
        QStringLiteral("no separator"),
        QString(),
        QStringLiteral("|empty-version"),
        QStringLiteral("empty-source|"),
        QStringLiteral("3.0|first|second|third"),
        QStringLiteral("tab| a\tb c"),
        QStringLiteral("twice|A"),
        QStringLiteral("twice|A"),
        QStringLiteral("order|A"),
        QStringLiteral("order|B"),
    });

    EXPECT_EQ(map.values(QStringLiteral("1.7.5")), QStringList{u});
    EXPECT_EQ(map.values(QStringLiteral("1.7.5.16")), QStringList{u});
    EXPECT_EQ(map.values(QString()), QStringList{QStringLiteral("empty-version")});
    EXPECT_EQ(map.values(QStringLiteral("empty-source")), QStringList{QString()});
    // The version ends at the first "|"; a URL may hold more of them.
    EXPECT_EQ(map.values(QStringLiteral("3.0")), QStringList{QStringLiteral("first|second|third")});
    EXPECT_EQ(map.values(QStringLiteral("tab")), QStringList{QStringLiteral("a\tb")});
    EXPECT_EQ(map.values(QStringLiteral("twice")), (QStringList{QStringLiteral("A"), QStringLiteral("A")}));
    EXPECT_EQ(map.values(QStringLiteral("order")), (QStringList{QStringLiteral("B"), QStringLiteral("A")}));
    EXPECT_EQ(map.size(), 10);

    // One debug line per entry, none for skipped lines.
    const QStringList messages = log.messages();
    EXPECT_EQ(messages.size(), 10);
    EXPECT_EQ(messages.first(), parseKey + QStringLiteral(": Found: version=1.7.5, source=") + u);
    EXPECT_EQ(messages.at(2), parseKey + QStringLiteral(": Found: version=, source=empty-version"));
}

TEST(UpdateValidator, PercentSignsInVersionsAreLoggedAsText)
{
    LogFile log;
    ProbeValidator validator(log.logger(), {});
    validator.parseVersionsWithSources({QStringLiteral("1.%1|src")});
    EXPECT_EQ(log.messages(), QStringList{parseKey + QStringLiteral(": Found: version=1.%1, source=src")});
}

TEST(UpdateValidator, ReadsInstalledVersionAndKeepsArguments)
{
    AptWorld world(QStringLiteral("1.7.2"), {});
    const QStringList args{QStringLiteral("-o"), QStringLiteral("Debug::X=1")};
    ProbeValidator validator(nullptr, args);
    EXPECT_EQ(validator.currentVersion(), QStringLiteral("1.7.2"));
    EXPECT_EQ(validator.aptArgs(), args);
    EXPECT_TRUE(validator.getInvalidSources().isEmpty());
}

TEST(UpdateValidator, FindsVersionsWithSourcesOfBothStagesInRealApt)
{
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("main"),
                     QStringLiteral("1.7.5"),
                     {QStringLiteral("1.0+v1.7.5"), QStringLiteral("1.0+v1.7.5.16")}},
                    {QStringLiteral("hot"), QStringLiteral("1.7.5.hotfix1"), {QStringLiteral("2.0")}}});
    const QString main = world.url(QStringLiteral("main"));
    const QString hot = world.url(QStringLiteral("hot"));
    LogFile log;
    ProbeValidator validator(log.logger(), {});

    const Pairs expected{
        // policy's release v= of main and madison's package 1.0+v1.7.5 give
        // the same line, "1.7.5 | URL ./ Packages": sort -u keeps one.
        {QStringLiteral("1.7.5"), main},
        {QStringLiteral("1.7.5.16"), main}, // madison
        {QStringLiteral("1.7.5.hotfix1"), hot}, // policy
        {QStringLiteral("2.0"), hot}, // madison, no "+v"
    };
    EXPECT_EQ(sortedPairs(validator.getVersionsWithSources()), expected);
    for (const QString& message : log.messages())
        EXPECT_TRUE(message.startsWith(parseKey)) << message.toStdString();
}

TEST(UpdateValidator, FailingStageOfTheCommandMakesTheSourcesUnknown)
{
    // Each stage alone: policy, madison, and output of the wrong shape.
    const QByteArray policy = " 500 file:/srv/a ./ Packages\n     release v=1.7.5,o=Orvel\n";
    const QByteArray madison = "orvel-version | 1.0+v1.7.6 | file:/srv/b ./ Packages\n";
    for (const QString& failing :
         {QStringLiteral("policy"), QStringLiteral("madison"), QStringLiteral("header"), QStringLiteral("shape")}) {
        FakeAptCache fake;
        fake.setStdout(QStringLiteral("policy"), policy);
        fake.setStdout(QStringLiteral("madison"),
                       failing == QLatin1String("shape") ? "1.0+v1.7.6 file:/srv/b\n" : madison);
        if (failing == QLatin1String("header"))
            fake.setPolicyWithoutHeader();
        else if (failing != QLatin1String("shape"))
            fake.setExitCode(failing, 100);
        LogFile log(Logger::Error);
        ProbeValidator validator(log.logger(), {});
        EXPECT_TRUE(validator.getVersionsWithSources().isEmpty()) << failing.toStdString();
        EXPECT_EQ(log.messages().value(0), QStringLiteral("Unable to get versions with sources"))
            << failing.toStdString();
    }
    FakeAptCache fake;
    fake.setStdout(QStringLiteral("policy"), policy);
    fake.setStdout(QStringLiteral("madison"), madison);
    ProbeValidator validator(nullptr, {});
    EXPECT_EQ(sortedPairs(validator.getVersionsWithSources()),
              (Pairs{{QStringLiteral("1.7.5"), QStringLiteral("file:/srv/a")},
                     {QStringLiteral("1.7.6"), QStringLiteral("file:/srv/b")}}));
}

TEST(UpdateValidator, KilledCommandGivesTwoErrorLinesAndNoVersions)
{
    FakeAptCache fake;
    fake.setStdout(QStringLiteral("policy"), " 500 file:/srv/a ./ Packages\n     release v=1.7.5,o=O\n");
    fake.setStderr(QStringLiteral("policy"), "mirror broken");
    fake.setKillsShell(QStringLiteral("policy"));
    LogFile log;
    ProbeValidator validator(log.logger(), {});

    EXPECT_TRUE(validator.getVersionsWithSources().isEmpty());
    EXPECT_EQ(log.messages(),
              (QStringList{QStringLiteral("Unable to get versions with sources"), QStringLiteral("mirror broken")}));
}

TEST(UpdateValidator, RawLinesKeepTheFinalEmptyPiece)
{
    FakeAptCache fake;
    fake.setStdout(QStringLiteral("madison"), "orvel-version | 1.0+v1.7.5 | file:/srv/a ./ Packages\n");
    ProbeValidator validator(nullptr, {});
    EXPECT_EQ(validator.getRawVersionsWithSources(),
              (QStringList{QStringLiteral("1.7.5 | file:/srv/a ./ Packages"), QString()}));
}

TEST(UpdateValidator, OnlyAnAnswerGivenInFullCounts)
{
    // A shell that stops early with code 0, as one that runs nothing does.
    LogFile log(Logger::Error);
    ProbeValidator validator(log.logger(), {});
    EXPECT_EQ(validator.runShellCommand(QStringLiteral("printf 1.7.5"), QStringLiteral("failed")),
              QStringList{QStringLiteral("1.7.5")});
    EXPECT_EQ(validator.runShellCommand(QStringLiteral("echo 1.7.5; exit 0"), QStringLiteral("failed")), std::nullopt);
    EXPECT_EQ(
        log.messages(),
        (QStringList{QStringLiteral("failed"), QStringLiteral("the query ended without giving its whole answer")}));
}

TEST(UpdateValidator, SettersReplaceAndLogTheirValues)
{
    LogFile log;
    ProbeValidator validator(log.logger(), {});
    validator.setCurrentOrvelVersion(QStringLiteral("2.5.1"));
    validator.setAvailableVersions({QStringLiteral("2.5.2"), QStringLiteral("2.6.0")});
    validator.setAvailableVersions({});
    validator.setLogger(nullptr);
    validator.setCurrentOrvelVersion(QStringLiteral("unlogged"));

    EXPECT_EQ(validator.currentVersion(), QStringLiteral("unlogged"));
    EXPECT_EQ(log.messages(),
              (QStringList{
                  QStringLiteral(
                      "void UpdateValidator::setCurrentOrvelVersion(const QString&): current orvel version = 2.5.1"),
                  QStringLiteral("void UpdateValidator::setAvailableVersions(const QStringList&): available orvel "
                                 "version = 2.5.2 2.6.0"),
                  QStringLiteral(
                      "void UpdateValidator::setAvailableVersions(const QStringList&): available orvel version = "),
              }));
}

TEST(UpdateValidator, TimedOutCommandIsKilledWithItsPipelineSlow)
{
    FakeAptCache fake;
    fake.setSleepSeconds(QStringLiteral("policy"), 600);
    LogFile log;
    ProbeValidator validator(log.logger(), {});

    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(validator.getRawVersionsWithSources(), QStringList());
    EXPECT_GE(timer.elapsed(), 29000);
    EXPECT_LT(timer.elapsed(), 40000);

    EXPECT_EQ(log.messages(),
              (QStringList{QStringLiteral("Unable to get versions with sources"),
                           QStringLiteral("timed out after 30000 ms")}));
    const QList<QByteArray> ids = fake.sleeperIds().split(' ');
    ASSERT_EQ(ids.size(), 2);
    EXPECT_FALSE(ProcessTable::exists(ids.at(0).toInt()));
    EXPECT_EQ(ProcessTable::membersOfGroup(ids.at(1).toInt()), QList<pid_t>());
}
