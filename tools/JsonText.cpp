// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "JsonText.h"

#include <Logger.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

QJsonValue json(const QString& text)
{
    return Logger::escaped(text);
}

QJsonValue json(const QStringList& texts)
{
    QJsonArray array;
    for (const QString& text : texts)
        array.append(Logger::escaped(text));
    return array;
}

QJsonValue json(bool value)
{
    return value;
}

} // namespace

QString JsonText::verdict(bool allowed, const QString& installed, QStringList invalidSources,
                          const QVector<Refusal>& refusals)
{
    std::sort(invalidSources.begin(), invalidSources.end());
    QJsonArray refusalObjects;
    for (const Refusal& refusal : refusals) {
        QJsonObject object;
        refusal.forEachField(
            [&object](const char* key, const auto& value) { object.insert(QLatin1String(key), json(value)); });
        refusalObjects.append(object);
    }
    const QJsonObject object{{QStringLiteral("allowed"), allowed},
                             {QStringLiteral("installed"), json(installed)},
                             {QStringLiteral("invalid_sources"), json(invalidSources)},
                             {QStringLiteral("refusals"), refusalObjects}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}
