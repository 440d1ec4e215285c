// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "MadisonLine.h"

std::optional<MadisonLine> MadisonLine::parse(QStringView line)
{
    const qsizetype first = line.indexOf(QLatin1Char('|'));
    const qsizetype second = first < 0 ? -1 : line.indexOf(QLatin1Char('|'), first + 1);
    if (second < 0)
        return std::nullopt;
    const QStringView source = line.mid(second + 1).trimmed();
    return MadisonLine{line.left(first).trimmed().toString(),
                       line.mid(first + 1, second - first - 1).trimmed().toString(), urlOf(source),
                       packageFileOf(source)};
}

QString MadisonLine::urlOf(QStringView description)
{
    return description.left(description.indexOf(QLatin1Char(' '))).toString();
}

QString MadisonLine::packageFileOf(QStringView description)
{
    const qsizetype space = description.indexOf(QLatin1Char(' '));
    return description.left(space < 0 ? -1 : description.indexOf(QLatin1Char(' '), space + 1)).toString();
}
