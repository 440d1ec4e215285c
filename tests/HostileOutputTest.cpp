// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

// What a broken mirror or a broken apt may print must not crash the checks,
// stall them, or change the verdict that the rules give for what can be read.

#include "AptWorld.h"
#include "FakeAptCache.h"
#include "LogFile.h"
#include "UpdateValidatorManager.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

// Generous: these inputs take well under a second each here; the limit only
// catches work that grows out of proportion.
constexpr qint64 timeLimitMs = 60000;

struct Outcome {
    bool allowed;
    QSet<QString> sources;
    qint64 elapsedMs;
};

class HostileOutput : public ::testing::Test
{
protected:
    AptWorld world{QStringLiteral("1.7.2"), {}};
    FakeAptCache fake;

    Outcome judge(std::shared_ptr<Logger> logger = nullptr)
    {
        QElapsedTimer timer;
        timer.start();
        UpdateValidatorManager manager(logger, QStringList());
        const bool allowed = manager.check();
        const QStringList sources = manager.getAllInvalidSources();
        return {allowed, QSet<QString>(sources.cbegin(), sources.cend()), timer.elapsed()};
    }
};

QByteArray policyEntry(const QByteArray& url, const QByteArray& release)
{
    return " 500 " + url + " ./ Packages\n     release v=" + release + ",o=Orvel\n";
}

QByteArray madisonLine(const QByteArray& version, const QByteArray& url)
{
    return "orvel-version | 1.0+v" + version + " | " + url + " ./ Packages\n";
}

} // namespace

TEST_F(HostileOutput, LineOfOneMebibyte)
{
    const QByteArray huge(1 << 20, '9');
    fake.setStdout(QStringLiteral("policy"), policyEntry("file:/srv/big", "1.7." + huge));
    fake.setStdout(QStringLiteral("madison"), "orvel-version | 1.0+v1.8." + huge + " | file:/srv/big");
    const Outcome outcome = judge();
    EXPECT_FALSE(outcome.allowed);
    EXPECT_EQ(outcome.sources, QSet<QString>{QStringLiteral("file:/srv/big")});
    EXPECT_LT(outcome.elapsedMs, timeLimitMs);
}

TEST_F(HostileOutput, HundredThousandLines)
{
    QByteArray policy;
    QByteArray madison;
    for (int i = 0; i < 50000; ++i) {
        const QByteArray minor = "1.7." + QByteArray::number(i);
        const QByteArray url = "file:/srv/m" + QByteArray::number(i);
        policy += policyEntry(url, minor + ".hotfix") + policyEntry(url + "r", minor);
        madison += madisonLine(minor, url) + madisonLine(minor + ".1", url);
    }
    policy += policyEntry("file:/srv/stray", "1.5.0.hotfix");
    madison += madisonLine("1.8.0", "file:/srv/jump");
    fake.setStdout(QStringLiteral("policy"), policy);
    fake.setStdout(QStringLiteral("madison"), madison);

    const Outcome outcome = judge();
    EXPECT_FALSE(outcome.allowed);
    EXPECT_EQ(outcome.sources, (QSet<QString>{QStringLiteral("file:/srv/stray"), QStringLiteral("file:/srv/jump")}));
    EXPECT_LT(outcome.elapsedMs, timeLimitMs);
}

TEST_F(HostileOutput, InvalidUtf8AndNulBytesHideNothingAfterThem)
{
    QByteArray binary(4096, '\0');
    QRandomGenerator random(7);
    for (char& byte : binary)
        byte = static_cast<char>(random.bounded(256));
    fake.setStdout(QStringLiteral("policy"),
                   QByteArrayLiteral("\xff\xfe\xc3(\x00\x01 garbage\n") + binary + "\n"
                       + policyEntry("file:/srv/after-nul", "1.6.0.hotfix"));
    fake.setStdout(QStringLiteral("madison"), madisonLine("1.8.0", "file:/srv/jump"));
    const Outcome outcome = judge(LogFile().logger());
    EXPECT_FALSE(outcome.allowed);
    EXPECT_TRUE(outcome.sources.contains(QStringLiteral("file:/srv/after-nul")));
    EXPECT_TRUE(outcome.sources.contains(QStringLiteral("file:/srv/jump")));
    EXPECT_LT(outcome.elapsedMs, timeLimitMs);

    // In madison's output they are not its lines: the versions that apt's
    // own query lists, and the sources, are unknown; the verdict stands.
    fake.setStdout(QStringLiteral("madison"),
                   binary + QByteArrayLiteral("\n\x00\n") + madisonLine("1.8.0", "file:/srv/jump"));
    UpdateValidatorManager manager(nullptr, QStringList());
    EXPECT_FALSE(manager.check());
    EXPECT_TRUE(manager.getAllInvalidSources().isEmpty());
    const QVector<Refusal> refusals = manager.getRefusals();
    ASSERT_FALSE(refusals.isEmpty());
    for (const Refusal& refusal : refusals)
        EXPECT_TRUE(!refusal.sourcesKnown || refusal.rule == QLatin1String("versions-unknown"))
            << refusal.version.toStdString();
}

TEST_F(HostileOutput, StrangeVersionShapes)
{
    QByteArray manyComponents = "1.7";
    for (int i = 0; i < 5000; ++i)
        manyComponents += "." + QByteArray::number(i);
    // Only full stops: component 1 is empty, so the line is left.
    fake.setStdout(QStringLiteral("madison"),
                   madisonLine(".....", "file:/srv/dots") + madisonLine(manyComponents, "file:/srv/long"));
    // The marker in every component makes a hotfix of no offered release.
    fake.setStdout(QStringLiteral("policy"),
                   policyEntry("file:/srv/marked", "hotfix.hotfix.hotfix.hotfix")
                       + policyEntry("file:/srv/long", manyComponents + ".hotfix")
                       + policyEntry("file:/srv/long-too", manyComponents) + policyEntry("file:/srv/dots", "....."));
    const Outcome outcome = judge();
    EXPECT_FALSE(outcome.allowed);
    EXPECT_EQ(outcome.sources, (QSet<QString>{QStringLiteral("file:/srv/dots"), QStringLiteral("file:/srv/marked")}));
    EXPECT_LT(outcome.elapsedMs, timeLimitMs);
}

TEST_F(HostileOutput, VersionOfAFileThatNoSourceDescribesIsJudgedWithoutSource)
{
    // showpkg names a file that apt-get indextargets does not describe.
    fake.setStdout(QStringLiteral("madison"), "orvel-version | 1.0+v1.8.0 |    \n");
    const Outcome outcome = judge();
    EXPECT_FALSE(outcome.allowed);
    EXPECT_EQ(outcome.sources, QSet<QString>());
    EXPECT_LT(outcome.elapsedMs, timeLimitMs);
}
