// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "SystemLog.h"

#include <csignal>

#include <sys/time.h>
#include <syslog.h>

namespace {
void ignoreAlarm(int) { }
} // namespace

void SystemLog::send(int priority, const std::string& line)
{
    // syslog(3) waits while the log's queue is full, and tries a second
    // time when the first send fails: a stalled log daemon must not hold
    // apt. An alarm every second, without SA_RESTART, ends each wait.
    struct sigaction alarmAction = {};
    struct sigaction previous = {};
    alarmAction.sa_handler = ignoreAlarm;
    sigemptyset(&alarmAction.sa_mask);
    const bool bounded = ::sigaction(SIGALRM, &alarmAction, &previous) == 0;
    itimerval timer = {};
    timer.it_value.tv_sec = 1;
    timer.it_interval.tv_sec = 1;
    if (bounded)
        ::setitimer(ITIMER_REAL, &timer, nullptr);
    ::openlog("orvel-update-check", LOG_PID, LOG_USER);
    ::syslog(priority, "%s", line.c_str());
    ::closelog();
    if (bounded) {
        timer = {};
        ::setitimer(ITIMER_REAL, &timer, nullptr);
        ::sigaction(SIGALRM, &previous, nullptr);
    }
}
