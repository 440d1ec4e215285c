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
                                                  "set -o pipefail; { nonce=${SRANDOM:+")));
    // The package files with their releases, and the versions of
    // orvel-version and of its providers, each answer once, one after the
    // other.
    EXPECT_TRUE(command.contains(QStringLiteral(" && targets=$(apt-get indextargets \"${apt_args[@]}\" --format ")));
    EXPECT_TRUE(command.contains(
        QStringLiteral(" && shown=$(apt-cache showpkg \"${apt_args[@]}\" 'orvel-version:*' | sed '/^ /d') && ")));
    EXPECT_TRUE(command.contains(QStringLiteral(
        "others=$(apt-cache showpkg \"${apt_args[@]}\" \"${providers[@]}\" | sed '/^ /d'); } && printf ")));
    EXPECT_TRUE(command.endsWith(QStringLiteral("{print $2 \" | \" $1}' | sort -u")));
    // No here-string or here-document: bash may need a temporary file for
    // one, and a query must not depend on a writable directory.
    EXPECT_FALSE(command.contains(QStringLiteral("<<")));
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
    // Each stage alone: the package files, the versions, and output of the
    // wrong shape.
    const QByteArray policy = " 500 file:/srv/a ./ Packages\n     release v=1.7.5,o=Orvel\n";
    const QByteArray madison = "orvel-version | 1.0+v1.7.6 | file:/srv/b ./ Packages\n";
    for (const QString& failing :
         {QStringLiteral("indextargets"), QStringLiteral("showpkg"), QStringLiteral("shape")}) {
        FakeAptCache fake;
        fake.setStdout(QStringLiteral("policy"), policy);
        fake.setStdout(QStringLiteral("madison"),
                       failing == QLatin1String("shape") ? "1.0+v1.7.6 file:/srv/b\n" : madison);
        if (failing != QLatin1String("shape"))
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
    fake.setStderr(QStringLiteral("indextargets"), "mirror broken");
    fake.setKillsShell(QStringLiteral("indextargets"));
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
    fake.setSleepSeconds(QStringLiteral("showpkg"), 600);
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

TEST(UpdateValidator, VersionsAreOfferedByThePackageFilesThatAptSourcesDescribe)
{
    // apt-get indextargets' records, then showpkg's text as apt prints it.
    const QByteArray targets = "/l/main\tfile:/srv/main ./ Packages\t1.7.5\t@NONCE@\n"
                               "/l/next\tfile:/srv/next ./ Packages\t\t@NONCE@\n";
    const QByteArray versions = "Package: orvel-version\nVersions: \n"
                                "1.0+v1.7.5 (/l/main) (/var/lib/dpkg/status)\n"
                                " Description Language: \n                 File: /l/main\n\n"
                                "Reverse Depends: \nDependencies: \n1.0+v1.7.5 - \nProvides: \n1.0+v1.7.5 - \n"
                                "Reverse Provides: \norvel-system 2.0 (= 1.0+v1.8.0)\norvel-other 1.0 (= )\n"
                                "Package: orvel-version:i386\nVersions: \n1.0+v1.7.6 (/l/next) (/l/main)\n\n"
                                "Reverse Provides: \n";
    const QByteArray provider = "Package: orvel-system\nVersions: \n2.0 (/l/next)\n\nReverse Provides: \n";
    const struct {
        const char* name;
        QByteArray showpkg;
        std::optional<QStringList> lines;
    } cases[] = {
        {"versions, architectures and providers", versions + provider,
         QStringList{QStringLiteral("1.7.5 | file:/srv/main ./ Packages"),
                     QStringLiteral("1.7.6 | file:/srv/main ./ Packages"),
                     QStringLiteral("1.7.6 | file:/srv/next ./ Packages"),
                     QStringLiteral("1.8.0 | file:/srv/next ./ Packages"), QString()}},
        {"nothing offered", "", QStringList{QStringLiteral("1.7.5 | file:/srv/main ./ Packages"), QString()}},
        {"a version line of another shape", "Package: orvel-version\nVersions: \n1.0+v1.7.5 /l/main\n", std::nullopt},
        {"text that is about no package", "E: broken\nPackage: orvel-version\n", std::nullopt},
    };
    for (const auto& c : cases) {
        FakeAptCache fake;
        fake.setStdout(QStringLiteral("indextargets"), targets);
        fake.setStdout(QStringLiteral("showpkg"), c.showpkg);
        LogFile log(Logger::Error);
        ProbeValidator validator(log.logger(), {});
        const QStringList raw = validator.getRawVersionsWithSources();
        EXPECT_EQ(raw, c.lines.value_or(QStringList())) << c.name;
        EXPECT_EQ(log.messages().isEmpty(), c.lines.has_value()) << c.name;
    }
}
