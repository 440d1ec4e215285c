// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "GuardMessages.h"

#include "SystemLog.h"
#include "Translation.h"

#include <algorithm>
#include <cstdio>

#include <syslog.h>

namespace {

// @p format with its "%1" replaced by @p argument, once.
std::string filledIn(const std::string& format, const std::string& argument)
{
    std::string text = format;
    const size_t at = text.find("%1");
    if (at != std::string::npos)
        text.replace(at, 2, argument);
    return text;
}

} // namespace

void GuardMessages::refuse(const std::string& why, const std::vector<std::string>& logLines, const std::string& remedy)
{
    using Translation::text;
    std::string message = text("orvel-update-check: the update is refused");
    message += why + "\n  ";
    message += remedy.empty() ? text("To keep the gate: put right what is named above, then run apt again.") : remedy;
    message += "\n  ";
    message += text("To install it anyway, this once: add -o Orvel::Update-Guard=false to the apt command line,\n"
                    "  or, where the front end has none (unattended-upgrade, PackageKit), put the line\n"
                    "    Orvel::Update-Guard \"false\";\n"
                    "  in a file under /etc/apt/apt.conf.d/, and remove that file afterwards.");
    message += "\n";
    std::fputs(message.c_str(), stderr);
    if (logLines.empty()) {
        std::string line = "update refused" + why;
        std::replace(line.begin(), line.end(), '\n', ' ');
        SystemLog::send(LOG_WARNING, line);
    }
    for (const std::string& line : logLines)
        SystemLog::send(LOG_WARNING, line);
}

void GuardMessages::refuseConfiguration(const std::string& why)
{
    std::string message = Translation::text("orvel-update-check: the update guard is set up wrongly, so this apt run "
                                            "is stopped:");
    message += "\n  " + why + "\n  ";
    message += Translation::text("Correct the setting where it is made (apt-config dump Orvel::Update-Guard shows "
                                 "the guard's settings), then run apt again.");
    message += "\n";
    std::fputs(message.c_str(), stderr);
    SystemLog::send(LOG_WARNING, "update refused: the guard is set up wrongly: " + why);
}

void GuardMessages::passUnchecked(const std::string& reason)
{
    std::fputs((filledIn(Translation::text(N_("orvel-update-check: warning: the update guard is off for this apt "
                                              "run (%1): nothing was checked")),
                         reason)
                + "\n")
                   .c_str(),
               stderr);
    SystemLog::send(LOG_NOTICE, filledIn("update guard off for this apt run (%1): nothing was checked", reason));
}

std::string GuardMessages::passBesideRefusedSources(const std::string& sources, const std::string& details)
{
    const char* const format = N_("apt's sources (%1) offer refused versions; this run takes nothing from them");
    std::fputs((Translation::text("orvel-update-check: warning: ") + filledIn(Translation::text(format), sources)
                + details + "\n")
                   .c_str(),
               stderr);
    const std::string line = filledIn(format, sources);
    SystemLog::send(LOG_WARNING, "update allowed: " + line);
    return line;
}
