// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include "QtPrinters.h"

#include <QByteArray>
#include <QMap>

/// Sets environment variables for the lifetime of the object and restores
/// their earlier values (or absence) afterwards.
class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment();

    void set(const char* name, const QByteArray& value);
    void unset(const char* name);
    /// Puts @p directory in front of PATH.
    void prependToPath(const QByteArray& directory);

private:
    void remember(const char* name);

    struct Saved {
        bool wasSet;
        QByteArray value;
    };
    QMap<QByteArray, Saved> m_saved;
};
