// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include "Translation.h"

#include <Refusal.h>

#include <QString>
#include <QStringList>

/// @p message in the admin's language where a translation exists, as
/// Translation::text() gives it, for Qt's strings.
inline QString translated(const char* message)
{
    return QString::fromLocal8Bit(Translation::text(message));
}

/// A format of the checks library's sentences (Refusal::Part), translated.
inline QString translatedFormat(const QString& format)
{
    return translated(format.toUtf8().constData());
}

/// @p format translated, with %1 to %9 replaced by @p arguments.
inline QString substituted(const char* format, const QStringList& arguments)
{
    return Refusal::substituted(translated(format), arguments);
}
