// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "JsonText.h"

#include "QtPrinters.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

Refusal refusalOfferedBy(const QStringList& sources)
{
    Refusal refusal{QStringLiteral("linear"),
                    QStringLiteral("major-version-changed"),
                    QStringLiteral("1.8.0"),
                    QStringLiteral("1.7.2"),
                    sources,
                    QStringLiteral("1.8.0 changes the major version")};
    refusal.packageFiles = sources;
    return refusal;
}

} // namespace

TEST(JsonText, ABytePastUtf8AndABackslashAreToldApartInStrictJson)
{
    const QString byte = QStringLiteral("file:/srv/a") + QChar(0xdc85);
    const QString lookalike = QStringLiteral("file:/srv/a\\x85");
    const QString separator = QStringLiteral("file:/srv/a\u2028FAKE");
    const QString lookalikeSeparator = QStringLiteral("file:/srv/a\\u2028FAKE");
    const QStringList sources{byte, lookalike, separator, lookalikeSeparator};
    const QByteArray json =
        JsonText::verdict(false, QStringLiteral("1.7.2"), sources, {refusalOfferedBy(sources)}).toUtf8();

    // Strict readers reject a lone surrogate, escaped or not.
    EXPECT_FALSE(QRegularExpression(QStringLiteral("\\\\u[dD][89a-fA-F]")).match(QString::fromUtf8(json)).hasMatch())
        << json.toStdString();
    EXPECT_EQ(QString::fromUtf8(json).toUtf8(), json);

    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(json, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.toStdString();
    const QStringList expected{QStringLiteral("file:/srv/a\\x85"), QStringLiteral("file:/srv/a\\\\x85"),
                               QStringLiteral("file:/srv/a\\u2028FAKE"), QStringLiteral("file:/srv/a\\\\u2028FAKE")};
    QStringList invalid = object.value(QStringLiteral("invalid_sources")).toVariant().toStringList();
    QStringList sorted = expected;
    std::sort(invalid.begin(), invalid.end());
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(invalid, sorted);
    const QJsonObject refusal = object.value(QStringLiteral("refusals")).toArray().at(0).toObject();
    EXPECT_EQ(refusal.value(QStringLiteral("sources")).toVariant().toStringList(), expected);
    EXPECT_EQ(refusal.value(QStringLiteral("package_files")).toVariant().toStringList(), expected);
}

TEST(JsonText, RefusalsCarryEveryFieldUnderItsKey)
{
    Refusal refusal = refusalOfferedBy({QStringLiteral("file:/srv/next")});
    refusal.packageFiles = QStringList{QStringLiteral("file:/srv/next ./")};
    refusal.sourcesKnown = false;
    refusal.aptError = QStringLiteral("E: broken");
    const QJsonObject object =
        QJsonDocument::fromJson(JsonText::verdict(false, QStringLiteral("1.7.2"), {}, {refusal}).toUtf8())
            .object()
            .value(QStringLiteral("refusals"))
            .toArray()
            .at(0)
            .toObject();
    QStringList keys;
    refusal.forEachField([&keys](const char* key, const auto&) { keys << QString::fromLatin1(key); });
    QStringList found = object.keys();
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(found, keys);
    EXPECT_EQ(object.value(QStringLiteral("package_files")).toArray().at(0).toString(),
              QStringLiteral("file:/srv/next ./"));
    EXPECT_EQ(object.value(QStringLiteral("sources_known")).toBool(true), false);
    EXPECT_EQ(object.value(QStringLiteral("apt_error")).toString(), QStringLiteral("E: broken"));
}
