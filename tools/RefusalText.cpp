// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "RefusalText.h"

#include "TranslatedText.h"

#include <Logger.h>

QStringList RefusalText::lines(const Refusal& refusal, const Style& style)
{
    QStringList text;
    if (style.title) {
        const QString subject = refusal.version.isEmpty() ? translatedFormat(refusal.subject()) : refusal.subject();
        text << QStringLiteral("%1 (%2, %3)").arg(Logger::escaped(subject), refusal.check, refusal.rule);
    }
    text << QStringLiteral("  ") + Logger::escaped(refusal.messageIn(translatedFormat));
    if (!refusal.sourcesKnown)
        text << style.detailIndent + translated(N_("sources unknown: apt could not list them"));
    else if (refusal.sources.isEmpty() && !refusal.version.isEmpty())
        text << style.detailIndent + translated(N_("offered by no source that apt names"));
    // By suite and component: one URL may serve allowed and refused ones.
    for (const QString& source : refusal.packageFiles)
        text << style.detailIndent + substituted(N_("offered by %1"), {Logger::escaped(source)})
                + (style.afterSource ? style.afterSource(source) : QString());
    return text;
}

QString RefusalText::line(const Refusal& refusal)
{
    QString line = QStringLiteral("update refused: %1 (%2, %3), installed %4")
                       .arg(refusal.subject(), refusal.check, refusal.rule,
                            refusal.installed.isEmpty() ? QStringLiteral("(unknown)") : refusal.installed);
    if (!refusal.sourcesKnown)
        line += QStringLiteral(", sources unknown: apt could not list them");
    if (!refusal.packageFiles.isEmpty())
        line += QStringLiteral(", offered by ") + refusal.packageFiles.join(QStringLiteral(", "));
    if (!refusal.aptError.isEmpty())
        line += QStringLiteral(", apt said: ") + refusal.aptError;
    return line;
}
