// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <Refusal.h>

#include <QString>
#include <QStringList>
#include <QVector>

/**
 * The tool's plain verdict: "update allowed" or "update refused" (never
 * translated: scripts compare it), then each of @p invalidSources on a line
 * of its own, escaped, sorted; with @p why, after a blank line each, the
 * refusals as RefusalText shows them to people.
 */
namespace VerdictText {

QString plain(bool allowed, QStringList invalidSources, const QVector<Refusal>& refusals, bool why);

} // namespace VerdictText
