// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QStringList>
#include <QVector>

#include <memory>
#include <string>
#include <vector>

#include "Logger.h"
#include "UpdateValidator.h"
#include "orvelupdatechecks_export.h"

/**
 * Runs every validator of a pending apt operation and merges their findings.
 *
 * Builds a LinearValidator and then a HotfixValidator from the apt
 * arguments (their constructors already query apt), runs both on every
 * check() without a short cut, and reports the union of their invalid
 * sources. Both share apt's answers (AptAnswers): construction and the
 * first check() ask apt each question once, each later check() once more.
 */
class ORVELUPDATECHECKS_EXPORT UpdateValidatorManager
{
public:
    /// Decodes each argument as UTF-8 over its full length, NUL bytes included.
    UpdateValidatorManager(std::shared_ptr<Logger> logger, const std::vector<std::string>& aptArgs);
    UpdateValidatorManager(std::shared_ptr<Logger> logger, const QStringList& aptArgs);

    /// True only if every validator accepts the update.
    bool check();
    /// Sources refused by the latest check() of any validator, each once,
    /// in no particular order. Runs nothing.
    QStringList getAllInvalidSources() const;
    /// Why the latest check() refused: every validator's refusals, in
    /// validator order (linear, then hotfix). Runs nothing.
    QVector<Refusal> getRefusals() const;
    /// The installed version the validators judge against.
    QString getCurrentOrvelVersion() const;

    /// The sources that offer @p packages, asked of apt with the apt
    /// arguments: see UpdateValidator::sourcesOfPackages().
    std::optional<QMultiHash<QString, QString>> sourcesOfPackages(const QStringList& packages) const;

    void setCurrentOrvelVersion(const QString& version);
    void setAvailableVersions(const QStringList& versions);
    /// The versions the pending operation is about to install, with their
    /// sources: see UpdateValidator::setRequestedVersions().
    void setRequestedVersions(const QVector<QPair<QString, QString>>& versionsWithSources);
    /// A null logger switches logging off in every validator.
    void setLogger(std::shared_ptr<Logger> logger);

private:
    QVector<std::shared_ptr<UpdateValidator>> m_validators;
};
