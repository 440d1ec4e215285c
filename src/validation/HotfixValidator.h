// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include "UpdateValidator.h"

/**
 * Refuses hotfix releases that do not belong to the installed or an offered
 * release.
 *
 * A version whose last dot-separated component contains "hotfix" is a hotfix
 * version. It is allowed when its first three components (the minor version)
 * equal those of the installed version, or when the sources also offer a
 * regular version, without "hotfix" anywhere, of the same minor version.
 * The offered versions are the release versions ("v=" in "apt-cache
 * policy"), learnt once at construction.
 *
 * When that query fails, the offered versions are unknown: every check()
 * then answers false until setAvailableVersions() supplies them.
 */
class ORVELUPDATECHECKS_EXPORT HotfixValidator : public UpdateValidator
{
public:
    /// Runs "apt-cache policy" with @p aptArgs, each quoted for the shell.
    HotfixValidator(std::shared_ptr<Logger> logger, const QStringList& aptArgs);
    /// The same, sharing apt's answers with the other validators of a verdict.
    HotfixValidator(std::shared_ptr<Logger> logger, const QStringList& aptArgs, std::shared_ptr<AptAnswers> answers);
    ~HotfixValidator() override;

    /// False when any offered hotfix version is forbidden (its sources are
    /// then in getInvalidSources()) or the offered versions are unknown.
    bool check() override;

private:
    QStringList m_getAvailableVersion();
    QString m_getAptCacheCommand() const;
    bool m_isUpdateSameMinorVersion(const QStringList& first, const QStringList& second) const;
    /// Minor versions ("a.b.c") of the entries of @p versions that carry no
    /// hotfix marker anywhere: the releases a hotfix may belong to.
    QSet<QString> m_regularMinorVersions(const QStringList& versions) const;
};
