// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "OldKernel.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <initializer_list>
#include <vector>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef CLONE_PIDFD
#define CLONE_PIDFD 0x00001000
#endif

namespace OldKernel {

bool simulate(int pidfdError)
{
    const auto errno_ = [](int value) { return static_cast<unsigned>(SECCOMP_RET_ERRNO | value); };
    const unsigned argument0 = offsetof(seccomp_data, args); // the low half, on x86-64
    std::vector<sock_filter> program{
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
    // pidfd_send_signal, pidfd_open, clone3, close_range, pidfd_getfd
    for (unsigned number : {424U, 434U, 435U, 436U, 438U}) {
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, number, 0, 1));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, errno_(ENOSYS)));
    }
    const std::vector<sock_filter> pidfdArguments{
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_waitid, 0, 4),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argument0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 3 /* P_PIDFD */, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, errno_(pidfdError)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 0, 4),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argument0),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, CLONE_PIDFD, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, errno_(pidfdError)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    program.insert(program.end(), pidfdArguments.begin(), pidfdArguments.end());

    sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0)
        return false;
    siginfo_t info{};
    return ::syscall(SYS_waitid, 3, INT_MAX, &info, WEXITED | WNOHANG, nullptr) == -1 && errno == pidfdError
        && ::syscall(SYS_close_range, 3, 3, 0) == -1 && errno == ENOSYS;
}

} // namespace OldKernel
