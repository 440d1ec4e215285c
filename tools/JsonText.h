// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <Refusal.h>

#include <QString>
#include <QStringList>
#include <QVector>

/**
 * The verdict as one line of JSON, for programs: {"allowed", "installed",
 * "invalid_sources", "refusals"}, each refusal with the keys of
 * Refusal::forEachField().
 *
 * Every string is the escaped text of the log and of the plain output
 * (Logger::escaped()): a byte that is not valid UTF-8 is "\xHH" there, so
 * the document is strict JSON (never a lone surrogate), and a backslash is
 * "\\", so that a repository's text that looks like an escape is told
 * apart from one.
 */
namespace JsonText {

/// @p invalidSources are written sorted.
QString verdict(bool allowed, const QString& installed, QStringList invalidSources, const QVector<Refusal>& refusals);

} // namespace JsonText
