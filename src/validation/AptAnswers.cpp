// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptAnswers.h"

void AptAnswers::renew()
{
    releases.reset();
    packages.reset();
    releasesError.clear();
    packagesError.clear();
    ++m_generation;
}

int AptAnswers::generation() const
{
    return m_generation;
}
