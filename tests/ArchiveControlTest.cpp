// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "ArchiveControl.h"
#include "ChildProcess.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A .deb built by the test worlds' own builder, with further control fields.
std::string makeDeb(const QTemporaryDir& dir, const QString& package, const QStringList& fields)
{
    QStringList arguments;
    for (const QString& field : fields)
        arguments << QStringLiteral("-f") << field;
    const ChildProcess::Result made =
        ChildProcess::run(QStringLiteral(ORVEL_TEST_SUPPORT_DIR "/make-deb"),
                          arguments + QStringList{package, QStringLiteral("1.0+v1.8.0"), dir.path()});
    EXPECT_TRUE(made.succeeded) << made.failureText().toStdString();
    return made.standardOutputText().trimmed().toStdString();
}

} // namespace

TEST(ArchiveControl, ReadsTheVersionsOfOrvelVersionThatAnArchiveInstallsOrProvides)
{
    QTemporaryDir dir;
    const struct {
        QString package;
        QStringList fields;
        std::vector<std::string> versions;
    } cases[] = {
        {QStringLiteral("orvel-version"), {}, {"1.0+v1.8.0"}},
        {QStringLiteral("orvel-system"),
         {QStringLiteral("Provides: foo, orvel-version (= 1.0+v1.9.0), bar (= 2)")},
         {"1.0+v1.9.0"}},
        // Without a version, nothing is said of the release.
        {QStringLiteral("orvel-other"), {QStringLiteral("Provides: orvel-version")}, {}},
        {QStringLiteral("orvel-extra"), {QStringLiteral("Provides: orvel-version-tools (= 1.0+v2.0.0)")}, {}},
    };
    for (const auto& entry : cases) {
        std::string error;
        const std::optional<ArchiveControl> control =
            ArchiveControl::read(makeDeb(dir, entry.package, entry.fields), &error);
        ASSERT_TRUE(control) << error;
        EXPECT_EQ(control->package, entry.package.toStdString());
        EXPECT_EQ(control->version, "1.0+v1.8.0");
        EXPECT_EQ(control->architecture, "all");
        EXPECT_EQ(control->versionsOf("orvel-version"), entry.versions) << control->package;
    }
}

TEST(ArchiveControl, WhatIsNoReadableArchiveSaysWhy)
{
    QTemporaryDir dir;
    QFile garbage(dir.filePath(QStringLiteral("garbage.deb")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("!<arch>\nnot a package at all\n");
    garbage.close();
    // A second read after a failure starts clean: apt's library keeps its
    // errors in one global stack.
    for (const QString& path : {dir.filePath(QStringLiteral("missing.deb")), garbage.fileName(), dir.path()}) {
        std::string error;
        EXPECT_FALSE(ArchiveControl::read(path.toStdString(), &error)) << path.toStdString();
        EXPECT_FALSE(error.empty()) << path.toStdString();
    }
    std::string error;
    EXPECT_TRUE(ArchiveControl::read(makeDeb(dir, QStringLiteral("orvel-version"), {}), &error)) << error;
}

TEST(ArchiveControl, ReadsTheControlMemberThatDpkgReads)
{
    QTemporaryDir dir;
    // Each line: the members of an archive, in order, from the parts of two
    // real archives: "x" the one of 1.0+v1.8.0, "y" one of 1.0+v1.7.6 (gzip).
    const QString script = QStringLiteral(R"(set -e; cd "$1"
        for v in 1.8.0:x:xz 1.7.6:y:gzip; do IFS=: read -r version name compressor <<<"$v"
            deb=$("$2" -Z "$compressor" orvel-version "1.0+v$version" "$1")
            mkdir "$name"; (cd "$name" && ar x "$deb"); done
        printf 'note\n' > x/_note
        cd x; ar rc ../appended-same.deb debian-binary control.tar.xz data.tar.xz ../y/control.tar.gz
        cp ../y/control.tar.gz control.tar.gz
        ar rc ../appended-other.deb debian-binary control.tar.xz data.tar.xz control.tar.gz
        ar rc ../optional-member.deb debian-binary _note control.tar.xz _note data.tar.xz
        ar rc ../decoy-first.deb debian-binary control.tar.gz control.tar.xz data.tar.xz
        ar rc ../data-first.deb debian-binary data.tar.xz control.tar.xz
        ar rc ../no-data.deb debian-binary control.tar.xz
        ar rc ../control-first.deb control.tar.xz debian-binary data.tar.xz)");
    const ChildProcess::Result made =
        ChildProcess::run(QStringLiteral("bash"),
                          {QStringLiteral("-c"), script, QStringLiteral("bash"), dir.path(),
                           QStringLiteral(ORVEL_TEST_SUPPORT_DIR "/make-deb")});
    ASSERT_TRUE(made.exitedCleanly()) << made.failureText().toStdString();

    const struct {
        const char* file;
        const char* version; // empty: not read
    } cases[] = {
        // dpkg ignores whatever follows data.tar.
        {"appended-same.deb", "1.0+v1.8.0"},
        {"appended-other.deb", "1.0+v1.8.0"},
        {"optional-member.deb", "1.0+v1.8.0"},
        // dpkg takes the member after debian-binary, whatever follows.
        {"decoy-first.deb", ""},
        {"data-first.deb", ""},
        {"no-data.deb", ""},
        {"control-first.deb", ""},
    };
    for (const auto& entry : cases) {
        std::string error;
        const std::optional<ArchiveControl> control =
            ArchiveControl::read(dir.filePath(QLatin1String(entry.file)).toStdString(), &error);
        if (*entry.version) {
            ASSERT_TRUE(control) << entry.file << ": " << error;
            EXPECT_EQ(control->version, entry.version) << entry.file;
        } else {
            EXPECT_FALSE(control) << entry.file;
            EXPECT_NE(error.find("not a .deb as dpkg reads it"), std::string::npos) << entry.file << ": " << error;
        }
    }
    // Every compressor dpkg writes control members with.
    for (const QString& compressor : {QStringLiteral("none"), QStringLiteral("gzip"), QStringLiteral("zstd")}) {
        const ChildProcess::Result deb =
            ChildProcess::run(QStringLiteral(ORVEL_TEST_SUPPORT_DIR "/make-deb"),
                              {QStringLiteral("-Z"), compressor, QStringLiteral("orvel-version"),
                               QStringLiteral("1.0+v1.7.5"), dir.filePath(QStringLiteral("x"))});
        std::string error;
        const std::optional<ArchiveControl> control =
            ArchiveControl::read(deb.standardOutputText().trimmed().toStdString(), &error);
        ASSERT_TRUE(control) << compressor.toStdString() << ": " << error;
        EXPECT_EQ(control->version, "1.0+v1.7.5");
    }
}

TEST(ArchiveControl, TellsATakeoverThatNamesNoRelease)
{
    QTemporaryDir dir;
    const struct {
        QString package;
        QStringList fields;
        bool takesOver;
    } cases[] = {
        {QStringLiteral("orvel-system"), {QStringLiteral("Provides: orvel-version")}, true},
        {QStringLiteral("orvel-system"),
         {QStringLiteral("Replaces: orvel-version"), QStringLiteral("Conflicts: orvel-version")},
         true},
        {QStringLiteral("orvel-system"), {QStringLiteral("Replaces: other, orvel-version:any (<< 2)")}, true},
        {QStringLiteral("orvel-system"),
         {QStringLiteral("Replaces: orvel-version"), QStringLiteral("Provides: orvel-version (= 1.0+v1.7.5)")},
         false},
        {QStringLiteral("orvel-version"), {QStringLiteral("Replaces: orvel-version (<< 1.0)")}, false},
        {QStringLiteral("orvel-extra"), {QStringLiteral("Replaces: orvel-version-tools")}, false},
    };
    for (const auto& entry : cases) {
        std::string error;
        const std::optional<ArchiveControl> control =
            ArchiveControl::read(makeDeb(dir, entry.package, entry.fields), &error);
        ASSERT_TRUE(control) << error;
        EXPECT_EQ(control->takesOverWithoutVersion("orvel-version"), entry.takesOver)
            << entry.fields.join(QLatin1Char(';')).toStdString();
    }
}
