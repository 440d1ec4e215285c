// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

// Runs a suite as on a kernel without pidfds, so that every child process
// goes the way such kernels need.

#include "OldKernel.h"

#include <cstdio>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!OldKernel::simulate()) {
        std::fprintf(stderr, "cannot make this process see a kernel without pidfds\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
