// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include "AptHookRequest.h"

/**
 * orvel-update-check --apt-hook: the guard that apt runs before it calls
 * dpkg (DPkg::Pre-Install-Pkgs, protocol version 3 or 2).
 *
 * A transaction that installs or upgrades nothing passes at once.
 * Otherwise every archive that it unpacks is read (its own Package,
 * Version, Architecture and Provides), and the checks run on the sources of
 * that apt run with the versions of orvel-version that the archives
 * install or provide; a refusal, an archive that cannot be read or that is
 * not what apt's index says, or a request that cannot be read, stops apt
 * before dpkg runs.
 * apt's configuration steers it: Orvel::Update-Guard=false lets one run
 * through with a warning; Orvel::Update-Guard::Scope is "sources" (default:
 * a refused verdict stops only a run that installs a refused version, takes
 * a package at a version that a refused source offers, or follows checks
 * that could not be made; any other run goes on with a warning naming the
 * refused sources), "all" (a refused verdict stops every run) or
 * "orvel-version" (only runs whose archives are or provide orvel-version);
 * Orvel::Update-Guard::Log names a log file (info level);
 * Orvel::Update-Guard::Enabled-By names a file without which the guard is
 * off (the guard's package was removed, its configuration left behind).
 * Refusals and runs let through unchecked also go to the system log.
 */
namespace AptHook {

/// Reads apt's request to its end (AptHookRequest::inputDescriptor()),
/// judges it and returns the exit status; writes to standard error and
/// the system log only when it refuses or lets a run through unchecked.
int run();
/**
 * Judges apt's request: the archives it unpacks, the sources of the
 * run, and the versions of orvel-version that its archives install or
 * provide (from a repository or a local file).
 */
int judge(const AptHookRequest& request);

} // namespace AptHook
