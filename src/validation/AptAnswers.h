// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QStringList>

#include <optional>

/**
 * What apt answered for one verdict, shared by the validators of a manager.
 *
 * Holds the output lines of the two queries the checks are built on: the
 * releases of the package files that apt's sources describe (the trusted
 * list and "apt-cache policy"), and the versions of orvel-version and of
 * its providers with the sources that offer them. Each query runs once,
 * when a validator first needs it: the constructors and the check() that
 * follows them share the answer, so that the versions judged and the
 * sources named for them come from the same moment of apt's state. A
 * validator that checks a second time starts a new verdict (renew()), and
 * apt is asked again.
 */
class AptAnswers
{
public:
    /// An answer: not asked yet (no value), failed (a value without one),
    /// or the lines.
    using Answer = std::optional<std::optional<QStringList>>;

    /// "URL release" lines, one per package file with a release.
    Answer releases;
    /// "version | source ..." lines of orvel-version and of its providers.
    Answer packages;
    /// apt's first error line of a failed answer (UpdateValidator::aptErrorOf()).
    QString releasesError;
    QString packagesError;

    /// Forgets both answers and counts a new verdict.
    void renew();
    /// Counts the verdicts, so that a validator can tell whether it has
    /// already checked against the current answers.
    int generation() const;

private:
    int m_generation = 0;
};
