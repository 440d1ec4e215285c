// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "ChildProcess.h"

#include <gtest/gtest.h>

// The queries rely on GNU awk's three-argument match(); with another awk
// the releases query fails, and every check refuses with its versions
// unknown.
TEST(AptTools, AwkHasThreeArgumentMatch)
{
    const auto result = ChildProcess::runShell(
        QStringLiteral("echo 'release v=1.7.5,o=Orvel' | awk '{ match($0, /v=([^,]+)/, ver); print ver[1] }'"));
    ASSERT_TRUE(result.succeeded);
    EXPECT_EQ(result.standardOutput, QByteArray("1.7.5\n"))
        << "awk lacks the three-argument match(); install the Debian package gawk "
           "and make it the awk alternative. awk said: "
        << result.standardError.toStdString();
}
