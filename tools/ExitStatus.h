// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

/// The exit statuses of orvel-update-check, decided here only (and listed
/// in its --help).
enum ExitStatus {
    UpdateAllowed = 0,
    /// Also an apt hook request that cannot be read: it is never passed.
    UpdateRefused = 1,
    UsageError = 2,
    OutputError = 3,
    /// The launcher could not start the tool proper.
    CannotStart = 4,
};
