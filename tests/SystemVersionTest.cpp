// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "ScopedEnvironment.h"

#include <OrvelUpdateState/SystemVersion.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using OrvelUpdateState::SystemVersion;

namespace {

class SystemVersionInSysroot : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(root.filePath(QStringLiteral("etc"))));
        environment.set("ORVEL_SYSROOT", QFile::encodeName(root.path()));
    }
    void writeVersionFile(const QByteArray& content)
    {
        QFile file(root.filePath(QStringLiteral("etc/orvel_version")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    QTemporaryDir root;
    ScopedEnvironment environment;
};

} // namespace

TEST_F(SystemVersionInSysroot, ReturnsTheFirstLineTrimmed)
{
    writeVersionFile("  1.7.2\t\nsecond line\n");
    EXPECT_EQ(SystemVersion::getCurrentSystemVersion(), QStringLiteral("1.7.2"));
}

TEST_F(SystemVersionInSysroot, MissingEmptyOrUnreadableFileGivesEmptyText)
{
    EXPECT_EQ(SystemVersion::getCurrentSystemVersion(), QString());
    writeVersionFile("");
    EXPECT_EQ(SystemVersion::getCurrentSystemVersion(), QString());
    // A directory where the file should be cannot be read as one.
    QFile::remove(root.filePath(QStringLiteral("etc/orvel_version")));
    ASSERT_TRUE(QDir().mkpath(root.filePath(QStringLiteral("etc/orvel_version"))));
    EXPECT_EQ(SystemVersion::getCurrentSystemVersion(), QString());
}
