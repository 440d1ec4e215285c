// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include "AptHookRequest.h"

/**
 * orvel-update-check --apt-hook: the guard that apt runs before it calls
 * dpkg (DPkg::Pre-Install-Pkgs, protocol version 3 or 2).
 *
 * A transaction that installs or upgrades nothing in the guard's scope
 * passes at once. Otherwise the checks run on the sources of that apt run;
 * a refusal, or a request that cannot be read, stops apt before dpkg runs.
 * apt's configuration steers it: Orvel::Update-Guard=false lets one run
 * through with a warning; Orvel::Update-Guard::Scope is "all" (default) or
 * "orvel-version"; Orvel::Update-Guard::Log names a log file (info level);
 * Orvel::Update-Guard::Enabled-By names a file without which the guard is
 * off (the guard's package was removed, its configuration left behind).
 * Refusals and runs let through unchecked also go to the system log.
 */
class AptHook
{
public:
    /// Reads apt's request to its end (AptHookRequest::inputDescriptor()),
    /// judges it and returns the exit status; writes to standard error and
    /// the system log only when it refuses or lets a run through unchecked.
    static int run();
    /**
     * Judges apt's request: the sources of the run, and the versions of
     * orvel-version that it installs (from a repository or a local file).
     */
    static int judge(const AptHookRequest& request);
};
