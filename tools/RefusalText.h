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
 * renderer of the tool's --why and of the guard's refusal and warning.
 * What programs read has renderers of its own (AptHook::refusalLine() for
 * the logs, the tool's JSON and metrics).
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

} // namespace RefusalText
