// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "HelpText.h"

#include "TranslatedText.h"

#include <QStringList>

namespace {

// --help, block by block: each block is one text for the translators.
const char* const blocks[] = {
    N_("Usage: orvel-update-check [OPTION...] [--] [APT-ARG...]\n"
       "       orvel-update-check --apt-hook\n"),
    N_("Decides whether the pending distribution update through apt may be installed:\n"
       "every offered version must keep the design and major version of the installed\n"
       "system, and every hotfix repository must belong to the installed release or to\n"
       "an offered regular release. APT-ARGs are apt's configuration options for the\n"
       "pending operation (-o, -c, -t, ...), passed on byte for byte: put them after\n"
       "--. apt's command words, package names and its help or version options are not\n"
       "apt arguments.\n"),
    N_("Prints \"update allowed\" or \"update refused\", then each package source that\n"
       "offers a refused version, one per line, sorted. --why adds, after a blank line,\n"
       "one block per refused version: the version with its check and rule, a\n"
       "sentence, and the sources that offer it. --json always carries the refusals.\n"),
    N_("With --apt-hook it is apt's guard: apt runs it before dpkg (see\n"
       "/etc/apt/apt.conf.d/20orvel-update-guard) and stops when it refuses. It reads\n"
       "apt's hook request (protocol version 3 or 2) from standard input, or from the\n"
       "descriptor in APT_HOOK_INFO_FD; when the run installs or upgrades a package it\n"
       "reads each archive apt hands to dpkg (refusing one that is not what apt's index\n"
       "says), then checks the sources of that apt run and the versions of orvel-version\n"
       "that the archives install or provide, local .deb files included. It says\n"
       "nothing unless it refuses or warns, and sends each refusal to the system log\n"
       "too (journalctl -t orvel-update-check).\n"),
    N_("apt options: Orvel::Update-Guard=false lets one run through (on the command\n"
       "line: -o Orvel::Update-Guard=false; for front ends without one, such as\n"
       "unattended-upgrade and PackageKit, a line Orvel::Update-Guard \"false\"; in a\n"
       "file under /etc/apt/apt.conf.d/, removed afterwards); Orvel::Update-Guard::Scope\n"
       "says which runs a refused verdict stops: \"sources\" (default) those that install\n"
       "a refused version, take a package at a version that a refused source offers, or\n"
       "follow checks that could not be made, letting the others go on with a warning\n"
       "that names the refused sources (so one refused repository does not hold back\n"
       "security updates); \"all\" every install or upgrade; \"orvel-version\" only runs\n"
       "whose archives install or provide orvel-version. Orvel::Update-Guard::Log names\n"
       "a log file. dpkg -i, and programs that call dpkg directly, bypass apt and so\n"
       "the guard.\n"),
    N_("Options:\n"
       "  --log FILE           append the checks' log to FILE (exit 3 when it cannot be\n"
       "                       written)\n"
       "  --log-level LEVEL    lowest level written to the log: debug, info (default),\n"
       "                       warning or error\n"
       "  --explain            write the reasons for the verdict (info level and above)\n"
       "                       to standard error\n"
       "  --why                after the verdict, say why: each refused version, the rule\n"
       "                       it breaks and the sources that offer it\n"
       "  --json               print {\"allowed\": ..., \"installed\": ...,\n"
       "                       \"invalid_sources\": [...], \"refusals\": [...]} instead\n"
       "  --prometheus         print the verdict as metrics in Prometheus' text format\n"
       "                       instead\n"
       "  --metrics-file FILE  write those metrics to FILE instead, replacing it at once\n"
       "                       (for the node exporter's textfile collector);\n"
       "                       interrupted, the file says orvel_update_allowed 0 and\n"
       "                       orvel_update_check_success 0\n"
       "  --apt-hook           run as apt's pre-install hook: read apt's request from\n"
       "                       standard input (or APT_HOOK_INFO_FD)\n"
       "  -h, --help           print this help\n"
       "  -v, --version        print the version\n"),
    N_("--why, --json, --prometheus and --metrics-file each choose the output: give one\n"
       "of them at most. --explain and --log cannot be combined: the checks log to one\n"
       "place at a time.\n"),
    N_("Exit status:\n"
       "  0      update allowed\n"
       "  1      update refused (with --apt-hook: also a request from apt that cannot be\n"
       "         read)\n"
       "  2      usage error\n"
       "  3      output error: the verdict, the explanation or the log could not be\n"
       "         written (with --metrics-file: also a directory that is not root's\n"
       "         alone, left as it was)\n"
       "  4      the tool is broken: its main program could not be started\n"
       "  128+N  ended by signal N (SIGINT, SIGTERM, SIGHUP), after ending the apt\n"
       "         queries it had started\n"),
};

} // namespace

QString HelpText::full()
{
    QStringList text;
    for (const char* block : blocks)
        text << translated(block);
    return text.join(QLatin1Char('\n'));
}

QString HelpText::usageLine()
{
    return translated(blocks[0]).section(QLatin1Char('\n'), 0, 0);
}
