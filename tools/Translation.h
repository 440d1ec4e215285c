// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

/// Marks a text for the message catalogue without translating it here.
#define N_(text) text

/**
 * The messages that orvel-update-check writes for people, in the
 * admin's language: gettext's catalogue "orvel-update-check", looked up
 * in share/locale beside the program (so a build tree finds its own).
 * What programs read (the log, --json, --prometheus, rule names, the
 * plain verdict line, the system log) is never passed through it.
 *
 * Standard C++ and the C library only: the launcher uses it before Qt is
 * loaded.
 */
namespace Translation {

/// Takes the locale from the environment and binds the catalogue.
/// @p localeDirFromProgram is share/locale relative to the program's
/// directory.
void init(const char* localeDirFromProgram);

/// @p message in the admin's language, in the locale's character set;
/// @p message itself where no translation exists.
const char* text(const char* message);

} // namespace Translation
