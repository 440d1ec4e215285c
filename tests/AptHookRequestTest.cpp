#include "AptHookRequest.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

// The shape apt 2.6 sends with protocol version 3 (its configuration cut down).
const QByteArray upgrade =
    "VERSION 3\n"
    "APT::Architecture=amd64\n"
    "APT::Architectures::=amd64\n"
    "APT::Architectures::=i386\n"
    "Dir=/srv/world/apt/\n"
    "Dir::Etc::sourcelist=/srv/world/apt/sources%20list\n"
    "Dir::Ignore-Files-Silently::=~$\n"
    "Acquire::IndexTargets::deb::Packages::flatDescription=$(RELEASE)%20Packages\n"
    "Orvel::Update-Guard=false\n"
    "Orvel::Update-Guard=No\n"
    "\n"
    "orvel-version 1.0+v1.7.2 all none < 1.0+v1.7.5 all none /srv/world/repos/main/./orvel-version_1.0+v1.7.5_all.deb\n"
    "orvel-extra 1.0 all none > - - none **REMOVE**\n"
    "orvel-version 1.0+v1.7.2 all none < 1.0+v1.7.5 all none **CONFIGURE**\n";

QString parseError(const QByteArray& input)
{
    QString error;
    EXPECT_FALSE(AptHookRequest::parse(input, &error).has_value()) << input.toStdString();
    return error;
}

} // namespace

TEST(AptHookRequest, ReadsConfigurationAndActionsOfVersionThree)
{
    QString error;
    const auto request = AptHookRequest::parse(upgrade, &error);
    ASSERT_TRUE(request.has_value()) << error.toStdString();
    EXPECT_EQ(request->version(), 3);
    ASSERT_EQ(request->actions().size(), 3);
    const AptHookRequest::Action& unpack = request->actions().at(0);
    EXPECT_EQ(unpack.package, QStringLiteral("orvel-version"));
    EXPECT_EQ(unpack.oldVersion, QStringLiteral("1.0+v1.7.2"));
    EXPECT_EQ(unpack.newVersion, QStringLiteral("1.0+v1.7.5"));
    EXPECT_EQ(unpack.action, QStringLiteral("/srv/world/repos/main/./orvel-version_1.0+v1.7.5_all.deb"));
    EXPECT_TRUE(unpack.unpacks());
    EXPECT_FALSE(request->actions().at(1).unpacks());
    EXPECT_FALSE(request->actions().at(2).unpacks());

    // The last value counts; apt's words for false in any case.
    EXPECT_EQ(request->value(QStringLiteral("Orvel::Update-Guard")), QStringLiteral("No"));
    EXPECT_TRUE(request->isFalse(QStringLiteral("Orvel::Update-Guard")));
    EXPECT_FALSE(request->isFalse(QStringLiteral("Orvel::Update-Guard::Scope")));
    EXPECT_EQ(request->value(QStringLiteral("Orvel::Update-Guard::Scope"), QStringLiteral("all")), QStringLiteral("all"));
}

TEST(AptHookRequest, AptArgumentsCarryTheSourcesOfTheRunDecoded)
{
    const auto request = AptHookRequest::parse(upgrade, nullptr);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->aptArguments(),
              (QStringList{QStringLiteral("-o"), QStringLiteral("APT::Architecture=amd64"),
                           QStringLiteral("-o"), QStringLiteral("APT::Architectures::=amd64"),
                           QStringLiteral("-o"), QStringLiteral("APT::Architectures::=i386"),
                           QStringLiteral("-o"), QStringLiteral("Dir=/srv/world/apt/"),
                           QStringLiteral("-o"), QStringLiteral("Dir::Etc::sourcelist=/srv/world/apt/sources list"),
                           QStringLiteral("-o"), QStringLiteral("Dir::Ignore-Files-Silently::=~$")}));
}

TEST(AptHookRequest, ScopeDecidesWhichUnpacksCount)
{
    const auto removalAndExtra = AptHookRequest::parse("VERSION 2\nDir=/\n\n"
                                                       "orvel-extra 1.0 < 2.0 /srv/orvel-extra_2.0_all.deb\n"
                                                       "orvel-old 1.0 > - **REMOVE**\n",
                                                       nullptr);
    ASSERT_TRUE(removalAndExtra.has_value());
    EXPECT_EQ(removalAndExtra->version(), 2);
    EXPECT_TRUE(removalAndExtra->unpacks());
    EXPECT_FALSE(removalAndExtra->unpacks(QStringLiteral("orvel-version")));

    const auto removalOnly = AptHookRequest::parse("VERSION 3\nDir=/\n\norvel-old 1.0 all none > - - none **REMOVE**\n",
                                                   nullptr);
    ASSERT_TRUE(removalOnly.has_value());
    EXPECT_FALSE(removalOnly->unpacks());
}

TEST(AptHookRequest, RefusesWhatItCannotReadWhole)
{
    EXPECT_TRUE(parseError("/srv/orvel-version_1.0+v1.7.5_all.deb\n").contains(QStringLiteral("Version \"3\"")));
    EXPECT_TRUE(parseError("VERSION 4\nDir=/\n\nx 1 < 2 /x.deb\n").contains(QStringLiteral("version 4")));
    // Cut short anywhere: in a line, in the configuration, before any action.
    for (int length : {upgrade.size() - 1, 30, 10, int(upgrade.indexOf("\n\n")) + 2})
        EXPECT_FALSE(parseError(upgrade.left(length)).isEmpty()) << length;
    EXPECT_FALSE(parseError("VERSION 3\nno equals sign\n\nx 1 a n < 2 a n /x.deb\n").isEmpty());
    // Too few fields for version 3, or no comparison where it belongs.
    EXPECT_FALSE(parseError("VERSION 3\nDir=/\n\norvel-version 1.0 < 2.0 /x.deb\n").isEmpty());
    EXPECT_FALSE(parseError("VERSION 2\nDir=/\n\norvel-version 1.0 ~ 2.0 /x.deb\n").isEmpty());
}
