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
