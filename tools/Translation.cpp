// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "Translation.h"

#include <clocale>
#include <climits>
#include <string>

#include <libintl.h>
#include <unistd.h>

namespace {
const char* const domain = "orvel-update-check";
}

void Translation::init(const char* localeDirFromProgram)
{
    std::setlocale(LC_ALL, "");
    // Beside the program, wherever it was installed; the installed place
    // when /proc cannot tell.
    std::string directory = ORVEL_UPDATE_CHECK_LOCALEDIR;
    char program[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", program, sizeof program - 1);
    if (length > 0) {
        const std::string path(program, static_cast<size_t>(length));
        directory = path.substr(0, path.rfind('/') + 1) + localeDirFromProgram;
    }
    ::bindtextdomain(domain, directory.c_str());
}

const char* Translation::text(const char* message)
{
    return ::dgettext(domain, message);
}
