// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "UpdateValidatorManager.h"

#include "HotfixValidator.h"
#include "LinearValidator.h"

#include "AptAnswers.h"
#include "ChildProcess.h"

namespace {
QStringList decodedUtf8(const std::vector<std::string>& arguments)
{
    QStringList decoded;
    decoded.reserve(static_cast<int>(arguments.size()));
    for (const std::string& argument : arguments)
        // Bytes that are not UTF-8 (a Latin-1 file name) still reach apt as
        // they are.
        decoded << ChildProcess::textFromBytes(QByteArray(argument.data(), static_cast<int>(argument.size())), true);
    return decoded;
}
} // namespace

UpdateValidatorManager::UpdateValidatorManager(std::shared_ptr<Logger> logger, const std::vector<std::string>& aptArgs)
    : UpdateValidatorManager(std::move(logger), decodedUtf8(aptArgs))
{ }

UpdateValidatorManager::UpdateValidatorManager(std::shared_ptr<Logger> logger, const QStringList& aptArgs)
{
    // One answer of apt's for both: construction and the check() after it
    // ask each question once.
    const auto answers = std::make_shared<AptAnswers>();
    auto linear = std::make_shared<LinearValidator>(logger, aptArgs, answers);
    auto hotfix = std::make_shared<HotfixValidator>(logger, aptArgs, answers);
    m_validators.reserve(2);
    m_validators << linear << hotfix;
}

bool UpdateValidatorManager::check()
{
    bool allowed = true;
    for (const auto& validator : qAsConst(m_validators))
        if (validator && !validator->check())
            allowed = false;
    return allowed;
}

QStringList UpdateValidatorManager::getAllInvalidSources() const
{
    QSet<QString> sources;
    for (const auto& validator : m_validators)
        if (validator)
            sources.unite(validator->getInvalidSources());
    return QStringList(sources.cbegin(), sources.cend());
}

QVector<Refusal> UpdateValidatorManager::getRefusals() const
{
    QVector<Refusal> refusals;
    for (const auto& validator : m_validators)
        if (validator)
            refusals += validator->getRefusals();
    return refusals;
}

QString UpdateValidatorManager::getCurrentOrvelVersion() const
{
    for (const auto& validator : m_validators)
        if (validator)
            return validator->getCurrentOrvelVersion();
    return QString();
}

std::optional<QMultiHash<QString, QString>> UpdateValidatorManager::sourcesOfPackages(const QStringList& packages) const
{
    for (const auto& validator : m_validators)
        if (validator)
            return validator->sourcesOfPackages(packages);
    return std::nullopt;
}

void UpdateValidatorManager::setCurrentOrvelVersion(const QString& version)
{
    for (const auto& validator : qAsConst(m_validators))
        if (validator)
            validator->setCurrentOrvelVersion(version);
}

void UpdateValidatorManager::setAvailableVersions(const QStringList& versions)
{
    for (const auto& validator : qAsConst(m_validators))
        if (validator)
            validator->setAvailableVersions(versions);
}

void UpdateValidatorManager::setRequestedVersions(const QVector<QPair<QString, QString>>& versionsWithSources)
{
    for (const auto& validator : qAsConst(m_validators))
        if (validator)
            validator->setRequestedVersions(versionsWithSources);
}

void UpdateValidatorManager::setLogger(std::shared_ptr<Logger> logger)
{
    for (const auto& validator : qAsConst(m_validators))
        if (validator)
            validator->setLogger(logger);
}
