// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptHookRequest.h"

#include "ScopedEnvironment.h"

#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

using Strings = std::vector<std::string>;

namespace {

// The shape apt 2.6 sends with protocol version 3 (its configuration cut down).
const std::string upgrade =
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

AptHookRequest parsed(const std::string& input)
{
    std::string error;
    const auto request = AptHookRequest::parse(input, &error);
    if (!request)
        throw std::runtime_error("not parsed: " + error);
    return *request;
}

std::string parseError(const std::string& input)
{
    std::string error;
    EXPECT_FALSE(AptHookRequest::parse(input, &error).has_value()) << input;
    return error;
}

} // namespace

TEST(AptHookRequest, ReadsConfigurationAndActionsOfVersionThree)
{
    const AptHookRequest request = parsed(upgrade);
    EXPECT_EQ(request.version(), 3);
    ASSERT_EQ(request.actions().size(), 3u);
    const AptHookRequest::Action& unpack = request.actions().at(0);
    EXPECT_EQ(unpack.package, "orvel-version");
    EXPECT_EQ(unpack.oldVersion, "1.0+v1.7.2");
    EXPECT_EQ(unpack.newVersion, "1.0+v1.7.5");
    EXPECT_EQ(unpack.action, "/srv/world/repos/main/./orvel-version_1.0+v1.7.5_all.deb");
    EXPECT_TRUE(unpack.unpacks());
    EXPECT_FALSE(request.actions().at(1).unpacks());
    EXPECT_FALSE(request.actions().at(2).unpacks());

    // The last value counts; apt's words for false in any case.
    EXPECT_EQ(request.value("Orvel::Update-Guard"), "No");
    EXPECT_TRUE(request.guardIsOff());
    EXPECT_EQ(request.scope(), "sources");
}

TEST(AptHookRequest, AptArgumentsCarryTheSourcesOfTheRunDecoded)
{
    EXPECT_EQ(parsed(upgrade).aptArguments(),
              (Strings{"-o", "APT::Architecture=amd64", "-o", "APT::Architectures::=amd64", "-o",
                       "APT::Architectures::=i386", "-o", "Dir=/srv/world/apt/", "-o",
                       "Dir::Etc::sourcelist=/srv/world/apt/sources list", "-o", "Dir::Ignore-Files-Silently::=~$"}));
}

TEST(AptHookRequest, GuardHasNothingToDoOnlyWithoutUnpacks)
{
    const std::string extraOnly = "VERSION 2\nDir=/\n%1\n"
                                  "orvel-extra 1.0 < 2.0 /srv/orvel-extra_2.0_all.deb\n"
                                  "orvel-old 1.0 > - **REMOVE**\n";
    const auto with = [&extraOnly](const std::string& setting) {
        std::string text = extraOnly;
        return parsed(text.replace(text.find("%1\n"), 3, setting.empty() ? "\n" : setting + "\n\n"));
    };
    EXPECT_EQ(with("").version(), 2);
    EXPECT_FALSE(with("").guardHasNothingToDo());
    // Any archive may take over orvel-version: only the archive can tell.
    EXPECT_FALSE(with("Orvel::Update-Guard::Scope=orvel-version").guardHasNothingToDo());
    // An unknown scope, or the guard switched off, is for the guard to say.
    EXPECT_FALSE(with("Orvel::Update-Guard::Scope=everything").guardHasNothingToDo());
    EXPECT_FALSE(with("Orvel::Update-Guard::Scope=everything").scopeIsKnown());
    EXPECT_FALSE(with("Orvel::Update-Guard=off").guardHasNothingToDo());

    // A removed guard package is for the guard to say too; only a missing
    // switch file counts as removed, any other error keeps the guard on.
    QTemporaryDir dir;
    const std::string switchFile = dir.filePath(QStringLiteral("enabled")).toStdString();
    EXPECT_EQ(with("Orvel::Update-Guard::Enabled-By=" + switchFile).missingSwitchFile(), switchFile);
    EXPECT_FALSE(with("Orvel::Update-Guard::Enabled-By=" + switchFile).guardHasNothingToDo());
    const std::string loop = dir.filePath(QStringLiteral("loop")).toStdString();
    ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
    for (const std::string& present : {dir.path().toStdString(), std::string("/etc/passwd/enabled"), loop})
        EXPECT_EQ(with("Orvel::Update-Guard::Enabled-By=" + present).missingSwitchFile(), "") << present;

    EXPECT_TRUE(parsed("VERSION 3\nDir=/\n\norvel-old 1.0 all none > - - none **REMOVE**\n").guardHasNothingToDo());
}

TEST(AptHookRequest, RefusesWhatItCannotReadWhole)
{
    EXPECT_NE(parseError("/srv/orvel-version_1.0+v1.7.5_all.deb\n").find("Version \"3\""), std::string::npos);
    EXPECT_NE(parseError("VERSION 4\nDir=/\n\nx 1 < 2 /x.deb\n").find("version 4"), std::string::npos);
    // Cut short anywhere: in a line, in the configuration, before any action.
    for (size_t length : {upgrade.size() - 1, size_t(30), size_t(10), upgrade.find("\n\n") + 2})
        EXPECT_FALSE(parseError(upgrade.substr(0, length)).empty()) << length;
    EXPECT_FALSE(parseError("VERSION 3\nno equals sign\n\nx 1 a n < 2 a n /x.deb\n").empty());
    // Too few fields for version 3, or no comparison where it belongs.
    EXPECT_FALSE(parseError("VERSION 3\nDir=/\n\norvel-version 1.0 < 2.0 /x.deb\n").empty());
    EXPECT_FALSE(parseError("VERSION 2\nDir=/\n\norvel-version 1.0 ~ 2.0 /x.deb\n").empty());
}

TEST(AptHookRequest, RefusesAnUnpackOfOrvelVersionWithoutVersionOrFile)
{
    for (const char* line : {"orvel-version 1.0+v1.7.2 all none < - all none /srv/x.deb",
                             "orvel-version 1.0+v1.7.2 all none < 1.0+v1.8.0 all none x.deb"})
        EXPECT_NE(
            parseError("VERSION 3\nDir=/\n\n" + std::string(line) + "\n").find("without naming its version and file"),
            std::string::npos)
            << line;
    // Other packages, and removals, need neither.
    EXPECT_EQ(parsed("VERSION 3\nDir=/\n\norvel-extra 1.0 all none < 2.0 all none x.deb\n").actions().size(), 1u);
    EXPECT_EQ(parsed("VERSION 3\nDir=/\n\norvel-version 1.0 all none > - - none **REMOVE**\n").actions().size(), 1u);
}

TEST(AptHookRequest, ReadsFromTheDescriptorThatAptNames)
{
    ScopedEnvironment environment;
    environment.unset("APT_HOOK_INFO_FD");
    std::string error;
    EXPECT_EQ(AptHookRequest::inputDescriptor(&error), STDIN_FILENO);

    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    environment.set("APT_HOOK_INFO_FD", QByteArray::number(pipeEnds[0]));
    EXPECT_EQ(AptHookRequest::inputDescriptor(&error), pipeEnds[0]);

    const int unused = ::open("/dev/null", O_RDONLY);
    ::close(unused);
    for (const QByteArray& value :
         {QByteArray(), QByteArray("twenty"), QByteArray("-3"), QByteArray("+3"), QByteArray("3 "),
          QByteArray("99999999999"), QByteArray::number(unused), QByteArray::number(pipeEnds[1])}) {
        environment.set("APT_HOOK_INFO_FD", value);
        error.clear();
        EXPECT_EQ(AptHookRequest::inputDescriptor(&error), -1) << value.constData();
        EXPECT_NE(error.find("APT_HOOK_INFO_FD"), std::string::npos);
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}
