// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "FakeAptCache.h"

#include <QDir>
#include <QFile>

#include <stdexcept>

FakeAptCache::FakeAptCache()
{
    if (!m_dir.isValid())
        throw std::runtime_error("cannot create a temporary directory for the fake apt-cache");
    // Linked into the settings directory, where they find their settings:
    // the checks hand their children no variable of the test's.
    for (const QString& program : {QStringLiteral("apt-cache"), QStringLiteral("apt-get")})
        if (!QFile::link(QStringLiteral(ORVEL_TEST_SUPPORT_DIR "/fake-bin/") + program, m_dir.filePath(program)))
            throw std::runtime_error("cannot link the fake apt-cache into its directory");
    m_environment.prependToPath(QFile::encodeName(m_dir.path()));
}

void FakeAptCache::write(const QString& command, const QString& what, const QByteArray& content)
{
    const QString name = command.isEmpty() ? what : command + QLatin1Char('.') + what;
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        throw std::runtime_error("cannot write a setting of the fake apt-cache");
}

void FakeAptCache::setStdout(const QString& command, const QByteArray& text)
{
    write(command, QStringLiteral("stdout"), text);
}

void FakeAptCache::setStderr(const QString& command, const QByteArray& text)
{
    write(command, QStringLiteral("stderr"), text);
}

void FakeAptCache::setExitCode(const QString& command, int code)
{
    write(command, QStringLiteral("exit"), QByteArray::number(code));
}

void FakeAptCache::setSleepSeconds(const QString& command, int seconds)
{
    write(command, QStringLiteral("sleep"), QByteArray::number(seconds));
}

void FakeAptCache::setFailsOnce(const QString& command)
{
    write(command, QStringLiteral("fail-once"), QByteArray());
}

void FakeAptCache::setKillsShell(const QString& command)
{
    write(command, QStringLiteral("kill-shell"), QByteArray());
}

QVector<QStringList> FakeAptCache::calls() const
{
    QVector<QStringList> calls;
    const QStringList names = QDir(m_dir.path()).entryList({QStringLiteral("call.*")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QStringList arguments;
        const QList<QByteArray> parts = file.readAll().split('\0');
        for (int i = 0; i + 1 < parts.size(); ++i) // the last part follows the final NUL
            arguments << QString::fromLocal8Bit(parts.at(i));
        calls << arguments;
    }
    return calls;
}

QByteArray FakeAptCache::sleeperIds() const
{
    QFile file(m_dir.filePath(QStringLiteral("pid")));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}
