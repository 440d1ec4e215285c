// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <cerrno>

/**
 * Makes this process, and every process it starts, see the system calls of
 * a kernel before pidfds (Linux 4.15 to 5.1), through a seccomp filter:
 * pidfd_open, pidfd_send_signal, pidfd_getfd, clone3 and close_range answer
 * ENOSYS; waitid(P_PIDFD, ...) and clone with CLONE_PIDFD answer EINVAL.
 * With @p pidfdError, those two answer that instead, as a container's
 * filter does with EPERM or ENOSYS for what it does not know.
 * The filter cannot be taken back.
 */
namespace OldKernel {
/// False when the filter could not be installed or does not hold.
bool simulate(int pidfdError = EINVAL);
} // namespace OldKernel
