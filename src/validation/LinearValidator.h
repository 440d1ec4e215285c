// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include "UpdateValidator.h"

/**
 * Refuses an update that leaves the installed line.
 *
 * Every version of "orvel-version" that the sources offer, on any
 * architecture apt is configured for, and every version of it that a
 * package provides, must keep the design version and the major version
 * (components 0 and 1, compared as exact texts) of the installed system; a
 * version without those components cannot. An installed version with fewer
 * than three components refuses the check (installed-version-unknown).
 *
 * When the offered versions cannot be learnt (apt fails), every check()
 * answers false until setAvailableVersions() supplies them.
 */
class ORVELUPDATECHECKS_EXPORT LinearValidator : public UpdateValidator
{
public:
    /// Asks the package manager once for the offered versions, then apt for
    /// those of other architectures and of providers (AptQueries::packageVersions()).
    LinearValidator(std::shared_ptr<Logger> logger, const QStringList& aptArgs);
    /// The same, sharing apt's answers with the other validators of a verdict.
    LinearValidator(std::shared_ptr<Logger> logger, const QStringList& aptArgs, std::shared_ptr<AptAnswers> answers);
    ~LinearValidator() override;

    /// False when any offered version breaks the line (the sources of every
    /// such version are then in getInvalidSources()) or the offered versions
    /// are unknown.
    bool check() override;
};
