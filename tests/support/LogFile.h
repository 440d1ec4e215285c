// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include "Logger.h"
#include "QtPrinters.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>

/// A log file in a temporary directory and a logger that writes to it.
class LogFile
{
public:
    explicit LogFile(Logger::Level level = Logger::Debug);

    QString path() const;
    std::shared_ptr<Logger> logger() const { return m_logger; }

    /// Lines of the file as written, timestamps included.
    QStringList lines() const;
    /// Lines with the "yyyy-MM-dd hh:mm:ss - " prefix checked and removed.
    QStringList messages() const;
    bool exists() const;

private:
    QTemporaryDir m_dir;
    std::shared_ptr<Logger> m_logger;
};
