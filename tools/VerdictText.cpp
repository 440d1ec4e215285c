// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "VerdictText.h"

#include "RefusalText.h"

#include <Logger.h>

#include <algorithm>

QString VerdictText::plain(bool allowed, QStringList invalidSources, const QVector<Refusal>& refusals, bool why)
{
    std::sort(invalidSources.begin(), invalidSources.end());
    QString text = QLatin1String(allowed ? "update allowed\n" : "update refused\n");
    for (const QString& source : qAsConst(invalidSources))
        text += Logger::escaped(source) + QLatin1Char('\n');
    if (why)
        for (const Refusal& refusal : refusals)
            text += QLatin1Char('\n') + RefusalText::lines(refusal, {}).join(QLatin1Char('\n')) + QLatin1Char('\n');
    return text;
}
