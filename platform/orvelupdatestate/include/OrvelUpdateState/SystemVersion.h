// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QString>

#include <OrvelUpdateState/orvelupdatestate_export.h>

namespace OrvelUpdateState {

/**
 * The installed version of the Orvel system.
 *
 * Stand-in for the distribution's system-version library: it reads the
 * version from the file at m_pathToOrvelVersion. When the environment
 * variable ORVEL_SYSROOT is set, its value is put in front of that path, so
 * tests and demos can describe a system under a directory of their own.
 */
class ORVELUPDATESTATE_EXPORT SystemVersion
{
public:
    /// First line of the version file, trimmed; empty when the file is
    /// missing, empty or unreadable.
    static QString getCurrentSystemVersion();

    static QString m_pathToOrvelVersion;
    static QString m_pathToOrvelBuildVersion;
    static QString m_pathToHotfixBuildVersion;
};

} // namespace OrvelUpdateState
