// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// System calls without the C library, for code that runs in processes which
// share this process's memory (thread-local errno included) or in a signal
// handler: the C library's wrappers, and sanitizer interceptors of them,
// must stay out of such code.

#include <csignal>

#include <sys/syscall.h>

#if !defined(__x86_64__)
#error "The process launcher makes x86-64 Linux system calls directly."
#endif

namespace RawSyscall {

/// Returns the result, or -errno.
__attribute__((no_sanitize("address", "undefined"), always_inline)) inline long call(long number, long first = 0,
                                                                                     long second = 0, long third = 0,
                                                                                     long fourth = 0, long fifth = 0)
{
    long result;
    register long r10 asm("r10") = fourth;
    register long r8 asm("r8") = fifth;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(first), "S"(second), "d"(third), "r"(r10), "r"(r8)
                 : "rcx", "r11", "memory");
    return result;
}

/// The kernel's struct sigaction on x86-64.
struct KernelSigaction {
    void (*handler)(int);
    unsigned long flags;
    void (*restorer)();
    unsigned long mask;
};

__attribute__((no_sanitize("address", "undefined"), always_inline)) inline void setDefaultAction(long signal)
{
    const KernelSigaction byDefault{SIG_DFL, 0, nullptr, 0};
    call(SYS_rt_sigaction, signal, reinterpret_cast<long>(&byDefault), 0, sizeof(unsigned long));
}

/**
 * Calls @p visit with the name of each entry of the open directory
 * @p directory (getdents64) until it returns false; false when it did, or
 * when the listing failed. The kernel's struct linux_dirent64 (inode,
 * offset, record length, type, name) is read byte by byte: the buffer's
 * records are not aligned for a direct read. @p visit must be as plain as
 * the caller (no C library, no instrumentation where the caller has none).
 */
template <typename Visit>
__attribute__((no_sanitize("address", "undefined"), always_inline)) inline bool forEachDirectoryEntry(long directory,
                                                                                                      Visit visit)
{
    alignas(8) char buffer[2048];
    long count;
    while ((count = call(SYS_getdents64, directory, reinterpret_cast<long>(buffer), sizeof buffer)) > 0) {
        for (long offset = 0; offset < count;) {
            const char* record = buffer + offset;
            unsigned short recordLength;
            __builtin_memcpy(&recordLength, record + 16, sizeof recordLength);
            offset += recordLength;
            if (!visit(record + 19))
                return false;
        }
    }
    return count == 0;
}

} // namespace RawSyscall
