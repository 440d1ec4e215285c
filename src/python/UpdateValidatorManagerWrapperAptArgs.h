// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <pybind11/pybind11.h>

#include "Logger.h"
#include "UpdateValidatorManager.h"

#include <memory>
#include <string>
#include <vector>

/**
 * What the Python class UpdateValidatorAptArgs holds: a validator manager
 * for one pending apt operation, and the logger that the caller asked for.
 */
class UpdateValidatorManagerWrapperAptArgs
{
public:
    /// Builds both validators (which query apt) without a logger.
    explicit UpdateValidatorManagerWrapperAptArgs(const std::vector<std::string>& aptArgs);

    bool validate();
    /// Replaces the logger of every validator by a new one writing to
    /// @p path (UTF-8) at threshold @p level.
    void initLogger(const std::string& path, int level);
    /// A new list of str on every call.
    pybind11::list getInvalidSourcesList();
    /// The refusals of the latest validate(), as dicts of str (check, rule,
    /// version, installed, message, apt_error) with a list of str under
    /// "sources" and a bool under "sources_known".
    pybind11::list getRefusalsList();

private:
    std::shared_ptr<Logger> m_logger;
    UpdateValidatorManager m_manager;
};
