// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <Refusal.h>

#include <QString>
#include <QStringList>

#include <functional>

/**
 * A refusal as text for people, in the admin's language and escaped (its
 * versions, sources and messages come from repositories): the one
 * renderer of the tool's --why and of the guard's refusal and warning;
 * and the English line of the logs (line()). What programs read has
 * renderers of its own (JsonText, PrometheusText).
 */
namespace RefusalText {

struct Style {
    /// A title line first: "1.8.0 (linear, major-version-changed)".
    bool title = true;
    /// Before the detail lines (the sources), after the message's "  ".
    QString detailIndent = QStringLiteral("  ");
    /// What follows a source ("URL dist", or a local file's path): where it
    /// is configured, for instance.
    std::function<QString(const QString& source)> afterSource;
};

/// The lines of @p refusal, without line ends: the title (if asked), the
/// message, then whether its sources are unknown or which offer it.
QStringList lines(const Refusal& refusal, const Style& style);

/**
 * @p refusal as one English line for the checks' log and the system log,
 * not escaped (the log escapes what it writes): "update refused: SUBJECT
 * (CHECK, RULE), installed VERSION", then ", sources unknown: apt could not
 * list them", ", offered by FILE, FILE" and ", apt said: LINE" where they
 * apply. The collection's refusal_line filter follows it.
 */
QString line(const Refusal& refusal);

} // namespace RefusalText
