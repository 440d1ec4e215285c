// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QString>

/// The tool's --help, in the admin's language: written as a whole, not by
/// the command-line parser, each block one text for the translators.
namespace HelpText {

/// All of --help.
QString full();
/// Its first line, "Usage: orvel-update-check [OPTION...] ...", for a
/// usage error.
QString usageLine();

} // namespace HelpText
