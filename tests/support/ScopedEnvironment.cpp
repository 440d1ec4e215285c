// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "ScopedEnvironment.h"

#include <QtGlobal>

ScopedEnvironment::~ScopedEnvironment()
{
    for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
        if (it->wasSet)
            qputenv(it.key().constData(), it->value);
        else
            qunsetenv(it.key().constData());
    }
}

void ScopedEnvironment::remember(const char* name)
{
    if (!m_saved.contains(name))
        m_saved.insert(name, Saved{qEnvironmentVariableIsSet(name), qgetenv(name)});
}

void ScopedEnvironment::set(const char* name, const QByteArray& value)
{
    remember(name);
    qputenv(name, value);
}

void ScopedEnvironment::unset(const char* name)
{
    remember(name);
    qunsetenv(name);
}

void ScopedEnvironment::prependToPath(const QByteArray& directory)
{
    set("PATH", directory + ':' + qgetenv("PATH"));
}
