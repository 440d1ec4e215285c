// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include "ScopedEnvironment.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

/**
 * Puts the fake apt-cache and apt-get of tests/support/fake-bin first on
 * PATH for the lifetime of the object. Its behaviour is set per command
 * ("showpkg", "madison", apt-get's "indextargets") or, with an empty
 * command, for all of them; "policy" output in apt's shape describes the
 * package files and releases that the fake indextargets lists.
 */
class FakeAptCache
{
public:
    FakeAptCache();

    void setStdout(const QString& command, const QByteArray& text);
    void setStderr(const QString& command, const QByteArray& text);
    void setExitCode(const QString& command, int code);
    void setSleepSeconds(const QString& command, int seconds);
    /// The next call of @p command dies of SIGKILL; later ones behave as set.
    void setFailsOnce(const QString& command);
    /// Makes apt-cache kill the shell that started it.
    void setKillsShell(const QString& command);

    /// Arguments of every call so far, oldest first.
    QVector<QStringList> calls() const;
    /// "PID PGID" of a sleeping call, as it recorded them.
    QByteArray sleeperIds() const;

private:
    void write(const QString& command, const QString& what, const QByteArray& content);

    QTemporaryDir m_dir;
    ScopedEnvironment m_environment;
};
