// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <initializer_list>

#include <fcntl.h>
#include <unistd.h>

/// A file descriptor, closed when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1)
        : m_fd(fd)
    { }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }
    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    /// Hands the descriptor over: it is no longer closed here.
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

/// A close-on-exec pipe whose ends never sit on descriptors 0, 1 or 2: a
/// child moves its ends onto those, and an end already there (the caller
/// closed a standard stream) would be overwritten.
struct Pipe {
    Descriptor read;
    Descriptor write;

    bool open()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        read.reset(fds[0]);
        write.reset(fds[1]);
        for (Descriptor* end : {&read, &write}) {
            if (end->get() > STDERR_FILENO)
                continue;
            const int moved = ::fcntl(end->get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            if (moved < 0)
                return false;
            end->reset(moved);
        }
        return true;
    }
};
