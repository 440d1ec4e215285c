// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "MadisonLine.h"

std::optional<MadisonLine> MadisonLine::parse(QStringView line)
{
    const qsizetype first = line.indexOf(QLatin1Char('|'));
    const qsizetype second = first < 0 ? -1 : line.indexOf(QLatin1Char('|'), first + 1);
    if (second < 0)
        return std::nullopt;
    // The URL holds no space, but may hold "|".
    const QStringView source = line.mid(second + 1).trimmed();
    const qsizetype space = source.indexOf(QLatin1Char(' '));
    const qsizetype nextSpace = space < 0 ? -1 : source.indexOf(QLatin1Char(' '), space + 1);
    return MadisonLine{line.left(first).trimmed().toString(),
                       line.mid(first + 1, second - first - 1).trimmed().toString(), source.left(space).toString(),
                       source.left(nextSpace).toString()};
}
