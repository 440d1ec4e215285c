// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptWorld.h"
#include "FakeAptCache.h"
#include "LinearValidator.h"
#include "LogFile.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

const QString checkName = QStringLiteral("virtual bool LinearValidator::check()");
const QString majorError =
    QStringLiteral("Error: The versions of the available latest update is different, it's prohibited");
const QString designError = QStringLiteral("Error: The versions of the system design is different, it's prohibited");

QSet<QString> setOf(const QStringList& list)
{
    return QSet<QString>(list.cbegin(), list.cend());
}

QStringList withPrefix(const QStringList& messages, const QString& prefix)
{
    QStringList kept;
    for (const QString& message : messages)
        if (message.startsWith(prefix))
            kept << message;
    return kept;
}

// Installed 1.7.2; no repository at all, so verdicts come from the setters.
class LinearValidatorOffline : public ::testing::Test
{
protected:
    AptWorld world{QStringLiteral("1.7.2"), {}};
    LogFile log;

    bool checkOffered(const QStringList& offered)
    {
        LinearValidator validator(log.logger(), {});
        validator.setAvailableVersions(offered);
        const bool verdict = validator.check();
        invalid = validator.getInvalidSources();
        return verdict;
    }
    QStringList errors() const
    {
        QStringList errors;
        for (const QString& message : log.messages())
            if (message.startsWith(QLatin1String("Error: ")))
                errors << message;
        return errors;
    }
    QSet<QString> invalid;
};

} // namespace

TEST(LinearValidator, AcceptsEveryVersionOfTheInstalledLineFromRealApt)
{
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("main"),
                     QStringLiteral("1.7.5"),
                     {QStringLiteral("1.0+v1.7.3"), QStringLiteral("1.0+v1.7.9"), QStringLiteral("1.0+v1.7.2.1")}}});
    LogFile log;
    LinearValidator validator(log.logger(), {});
    EXPECT_TRUE(validator.check());
    EXPECT_TRUE(validator.getInvalidSources().isEmpty());

    const QStringList messages = log.messages();
    const QString ctor =
        QStringLiteral("LinearValidator::LinearValidator(std::shared_ptr<Logger>, const QStringList&)");
    EXPECT_EQ(messages.mid(0, 3),
              (QStringList{ctor, ctor + QStringLiteral(": current orvel version = 1.7.2"),
                           ctor + QStringLiteral(": available orvel version = 1.7.9 1.7.3 1.7.2.1")}));
    EXPECT_EQ(messages.at(3), checkName);
    EXPECT_EQ(withPrefix(messages, checkName + QStringLiteral(": ")),
              (QStringList{checkName + QStringLiteral(": currentDesignVersion = 1"),
                           checkName + QStringLiteral(": currentMajorVersion = 7"),
                           checkName + QStringLiteral(": avail = 1.7.9"), checkName + QStringLiteral(": avail = 1.7.3"),
                           checkName + QStringLiteral(": avail = 1.7.2.1")}));
    EXPECT_EQ(messages.last(), QStringLiteral("Update is linear"));
}

TEST(LinearValidator, RefusesMajorVersionJumpWithEverySourceThatOffersIt)
{
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("main"), QStringLiteral("1.7.5"), {QStringLiteral("1.0+v1.7.3")}},
                    {QStringLiteral("next"), QStringLiteral("1.8.0"), {QStringLiteral("1.0+v1.8.0")}},
                    {QStringLiteral("mirror"), QString(), {QStringLiteral("1.0+v1.8.0")}}});
    LogFile log(Logger::Info);
    LinearValidator validator(log.logger(), {});
    EXPECT_FALSE(validator.check());
    EXPECT_EQ(validator.getInvalidSources(),
              setOf({world.url(QStringLiteral("next")), world.url(QStringLiteral("mirror"))}));
    EXPECT_EQ(log.messages(), QStringList{majorError});
}

TEST(LinearValidator, ExaminesEveryVersionAndGathersAllRefusedSources)
{
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("a"), QString(), {QStringLiteral("1.0+v1.8.0"), QStringLiteral("1.0+v1.7.3")}},
                    {QStringLiteral("b"), QString(), {QStringLiteral("1.0+v2.7.0")}},
                    {QStringLiteral("c"), QString(), {QStringLiteral("1.0+v2.7.0"), QStringLiteral("1.0+v1.9.1")}}});
    LogFile log(Logger::Info);
    LinearValidator validator(log.logger(), {});
    EXPECT_FALSE(validator.check());
    EXPECT_EQ(validator.getInvalidSources(),
              setOf({world.url(QStringLiteral("a")), world.url(QStringLiteral("b")), world.url(QStringLiteral("c"))}));
    const QStringList messages = log.messages();
    EXPECT_EQ(messages.count(majorError), 2);
    EXPECT_EQ(messages.count(designError), 1);
    EXPECT_FALSE(messages.contains(QStringLiteral("Update is linear")));

    // The same verdict and sources without a logger, and nothing written.
    LogFile silent;
    LinearValidator quiet(nullptr, {});
    EXPECT_FALSE(quiet.check());
    EXPECT_EQ(quiet.getInvalidSources(), validator.getInvalidSources());
    EXPECT_FALSE(silent.exists());
}

TEST(LinearValidator, FailingAptRefusesUntilVersionsAreSupplied)
{
    // The package manager answers a failed query with an empty list, which
    // used to read as "nothing offered, the update is linear".
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("next"), QStringLiteral("1.8.0"), {QStringLiteral("1.0+v1.8.0")}}});
    world.breakSourcesList();

    LogFile log(Logger::Error);
    LinearValidator validator(log.logger(), {});
    EXPECT_FALSE(validator.check());
    EXPECT_FALSE(validator.check());
    EXPECT_TRUE(validator.getInvalidSources().isEmpty());
    const QStringList messages = log.messages();
    // apt's error lines each on a line of its own, not joined by "\n".
    ASSERT_GE(messages.size(), 4);
    EXPECT_EQ(messages.at(0), QStringLiteral("Unable to get available versions for linear validation"));
    EXPECT_TRUE(messages.at(1).startsWith(QStringLiteral("E: Malformed entry"))) << messages.at(1).toStdString();
    for (const QString& message : messages)
        EXPECT_FALSE(message.contains(QLatin1String("\\n"))) << message.toStdString();
    EXPECT_EQ(messages.mid(messages.size() - 2),
              (QStringList{QStringLiteral("Linear check failed"), QStringLiteral("Linear check failed")}));

    validator.setAvailableVersions({QStringLiteral("1.7.5")});
    EXPECT_TRUE(validator.check());
}

TEST(LinearValidator, PackageNobodyOffersIsNoFailure)
{
    // apt exits 0 with a notice for a package that no source carries.
    AptWorld world(QStringLiteral("1.7.2"), {{QStringLiteral("other"), QStringLiteral("1.7.5"), {}}});
    LinearValidator validator(nullptr, {});
    EXPECT_TRUE(validator.check());
}

TEST_F(LinearValidatorOffline, RefusesDesignChangeAndReportsMajorFirst)
{
    EXPECT_FALSE(checkOffered({QStringLiteral("2.7.0")}));
    EXPECT_EQ(errors(), QStringList{designError});
    EXPECT_FALSE(checkOffered({QStringLiteral("2.8.0")}));
    EXPECT_EQ(errors(), (QStringList{designError, majorError}));
}

TEST_F(LinearValidatorOffline, ComparesComponentsAsExactText)
{
    EXPECT_FALSE(checkOffered({QStringLiteral("1.07.2")}));
    EXPECT_FALSE(checkOffered({QStringLiteral("01.7.2")}));
    EXPECT_FALSE(checkOffered({QStringLiteral("1..2")}));
    EXPECT_FALSE(checkOffered({QStringLiteral("1. 7.2")}));
    EXPECT_TRUE(checkOffered({QStringLiteral("1.7.3"), QStringLiteral("1.7.4"), QStringLiteral("1.7.x.y.z")}));
}

TEST_F(LinearValidatorOffline, JudgesVersionsWithFewerThanThreeComponents)
{
    // Without a major component none can be kept.
    const QVector<QPair<QString, QString>> cases{{QStringLiteral("1.8"), QStringLiteral("major-version-changed")},
                                                 {QStringLiteral("2"), QStringLiteral("major-version-changed")},
                                                 {QStringLiteral("1"), QStringLiteral("major-version-changed")},
                                                 {QString(), QStringLiteral("major-version-changed")},
                                                 {QStringLiteral("2.7"), QStringLiteral("design-version-changed")},
                                                 {QStringLiteral("1.7"), QString()}};
    for (const auto& [offered, rule] : cases) {
        LinearValidator validator(nullptr, {});
        validator.setAvailableVersions({offered});
        EXPECT_EQ(validator.check(), rule.isEmpty()) << offered.toStdString();
        EXPECT_EQ(validator.getRefusals().value(0).rule, rule) << offered.toStdString();
    }
}

TEST_F(LinearValidatorOffline, UnknownInstalledReleaseRefusesWhateverIsOffered)
{
    for (const QString& installed : {QStringLiteral("1.7"), QString()}) {
        for (const QStringList& offered : {QStringList{QStringLiteral("99.99.0")}, QStringList()}) {
            LinearValidator validator(nullptr, {});
            validator.setCurrentOrvelVersion(installed);
            validator.setAvailableVersions(offered);
            EXPECT_FALSE(validator.check()) << installed.toStdString();
            ASSERT_EQ(validator.getRefusals().size(), 1);
            const Refusal refusal = validator.getRefusals().first();
            EXPECT_EQ(refusal.rule, QStringLiteral("installed-version-unknown"));
            EXPECT_EQ(refusal.version, QString());
            EXPECT_EQ(refusal.installed, installed);
        }
    }
}

TEST_F(LinearValidatorOffline, RepeatedRefusalIsLoggedEachTime)
{
    EXPECT_FALSE(checkOffered({QStringLiteral("1.8.0"), QStringLiteral("1.8.0")}));
    EXPECT_EQ(withPrefix(log.messages(), checkName + QStringLiteral(": avail")).size(), 2);
    EXPECT_EQ(errors(), (QStringList{majorError, majorError}));
    // No source offers 1.8.0 here: the refusal stands without sources.
    EXPECT_TRUE(invalid.isEmpty());
}

TEST(LinearValidator, EveryCheckStartsFromAnEmptySet)
{
    AptWorld world(QStringLiteral("1.7.2"), {{QStringLiteral("next"), QString(), {QStringLiteral("1.0+v1.8.0")}}});
    LinearValidator validator(nullptr, {});
    EXPECT_FALSE(validator.check());
    EXPECT_EQ(validator.getInvalidSources(), setOf({world.url(QStringLiteral("next"))}));
    EXPECT_FALSE(validator.check());
    EXPECT_EQ(validator.getInvalidSources().size(), 1);

    validator.setAvailableVersions({QStringLiteral("1.7.3")});
    EXPECT_TRUE(validator.check());
    EXPECT_TRUE(validator.getInvalidSources().isEmpty());
}

TEST(LinearValidator, JudgesTheConfirmingAnswerWhenThePackageManagerLostItsOwn)
{
    // The package manager's query dies and it answers with an empty list;
    // the confirming query that then succeeds offers a major jump.
    FakeAptCache fake;
    fake.setStdout(QStringLiteral("madison"),
                   "orvel-version | 1.0+v1.8.0 | file:/srv/next ./ Packages\n"
                   "orvel-version | 1.0+v1.7.5 | file:/srv/main ./ Packages\n");
    fake.setFailsOnce(QStringLiteral("madison"));
    LinearValidator validator(nullptr, {});
    validator.setCurrentOrvelVersion(QStringLiteral("1.7.2"));
    EXPECT_FALSE(validator.check());
    ASSERT_EQ(validator.getRefusals().size(), 1);
    EXPECT_EQ(validator.getRefusals().first().version, QStringLiteral("1.8.0"));
}

TEST(LinearValidator, HungAptCacheCostsOneTimeLimitAndSaysSoSlow)
{
    // The package manager's madison and the confirming one ask the same.
    FakeAptCache fake;
    fake.setSleepSeconds(QStringLiteral("madison"), 600);
    LogFile log(Logger::Error);
    QElapsedTimer timer;
    timer.start();
    LinearValidator validator(log.logger(), {});
    EXPECT_LT(timer.elapsed(), 40000);
    EXPECT_FALSE(validator.check());
    EXPECT_EQ(log.messages().mid(0, 2),
              (QStringList{QStringLiteral("Unable to get available versions for linear validation"),
                           QStringLiteral("timed out after 30000 ms")}));
}

TEST(LinearValidator, AnswerOfAnotherShapeIsAFailedQuery)
{
    // apt-cache printing its help, or lines that are not madison's.
    for (const QByteArray& output : {QByteArray("apt 2.6.1 (amd64)\nUsage: apt-cache [options] command\n"),
                                     QByteArray("orvel-version 1.0+v1.7.5 file:/srv/main\n")}) {
        FakeAptCache fake;
        fake.setStdout(QStringLiteral("madison"), output);
        LinearValidator validator(nullptr, {});
        EXPECT_FALSE(validator.check()) << output.toStdString();
        ASSERT_EQ(validator.getRefusals().size(), 1);
        EXPECT_EQ(validator.getRefusals().first().rule, QStringLiteral("versions-unknown"));
    }
}

TEST(LinearValidator, HelpAndVersionOptionsAreRefusedBeforeAnyQuery)
{
    for (const QString& option : {QStringLiteral("-h"), QStringLiteral("--help"), QStringLiteral("-v"),
                                  QStringLiteral("--version"), QStringLiteral("-qh")}) {
        FakeAptCache fake;
        LinearValidator validator(nullptr, {QStringLiteral("-o"), QStringLiteral("Debug::X=-h"), option});
        EXPECT_TRUE(fake.calls().isEmpty()) << option.toStdString();
        EXPECT_FALSE(validator.check());
        ASSERT_EQ(validator.getRefusals().size(), 1);
        EXPECT_TRUE(validator.getRefusals().first().message.contains(option)) << option.toStdString();
        // Refusals do not pile up from one check to the next.
        EXPECT_FALSE(validator.check());
        EXPECT_EQ(validator.getRefusals().size(), 1);
    }
    EXPECT_TRUE(UpdateValidator::helpOrVersionOption({QStringLiteral("-o"), QStringLiteral("Debug::X=-h"),
                                                      QStringLiteral("-c"), QStringLiteral("/etc/apt.conf")})
                    .isEmpty());
}
