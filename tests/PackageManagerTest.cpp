// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptWorld.h"
#include "FakeAptCache.h"

#include <WexAdmin/PackageManager.h>

#include <gtest/gtest.h>

using WexAdmin::PackageManager;

TEST(PackageManager, ListsDistinctVersionsAfterTheVersionMarkerFromRealApt)
{
    AptWorld world(QStringLiteral("1.7.2"),
                   {{QStringLiteral("a"),
                     QStringLiteral("1.7.5"),
                     {QStringLiteral("1.0+v1.7.5"), QStringLiteral("1.0+v1.8.0"), QStringLiteral("3.1")}},
                    {QStringLiteral("b"), QString(), {QStringLiteral("1.0+v1.8.0")}}});
    EXPECT_EQ(PackageManager::getAvailableVersionsList(QStringLiteral("orvel-version"), {}),
              (QStringList{QStringLiteral("3.1"), QStringLiteral("1.8.0"), QStringLiteral("1.7.5")}));
    EXPECT_EQ(PackageManager::getAvailableVersionsList(QStringLiteral("no-such-package"), {}), QStringList());
}

TEST(PackageManager, PassesAptArgumentsUnchangedWithoutAShell)
{
    FakeAptCache fake;
    const QStringList args{QStringLiteral("-o"), QStringLiteral("Dir::Etc::sourcelist=/x y.list"),
                           QStringLiteral("$(touch /tmp/x); `id`")};
    PackageManager::getAvailableVersionsList(QStringLiteral("orvel-version"), args);
    ASSERT_EQ(fake.calls().size(), 1);
    EXPECT_EQ(fake.calls().first(),
              QStringList{QStringLiteral("madison")} + args + QStringList{QStringLiteral("orvel-version")});
}

TEST(PackageManager, KeepsOnlyLinesOfTheAskedPackage)
{
    FakeAptCache fake;
    fake.setStdout(QStringLiteral("madison"),
                   "orvel-version | 1.0+v1.7.5 | file:/a ./ Packages\n"
                   "orvel-versions | 1.0+v9.9.9 | file:/a ./ Packages\n"
                   "  orvel-version|2.0+v1+v1.7.6|file:/b\n"
                   "no separator\n"
                   "orvel-version\n"
                   "orvel-version | 1.0+v1.7.5 | file:/c ./ Packages\n");
    fake.setExitCode(QStringLiteral("madison"), 100);
    EXPECT_EQ(PackageManager::getAvailableVersionsList(QStringLiteral("orvel-version"), {}),
              (QStringList{QStringLiteral("1.7.5"), QStringLiteral("1.7.6")}));
}

TEST(PackageManager, FailureGivesAnEmptyList)
{
    FakeAptCache fake;
    fake.setStdout(QStringLiteral("madison"), "orvel-version | 1.0+v1.7.5 | file:/a ./ Packages\n");
    fake.setKillsShell(QStringLiteral("madison")); // apt-cache is the leader here: it kills itself
    EXPECT_EQ(PackageManager::getAvailableVersionsList(QStringLiteral("orvel-version"), {}), QStringList());
}
