// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "MetricsFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::unique_ptr<MetricsFile> MetricsFile::open(const std::string& path, std::string* error)
{
    const auto failure = [error](const std::string& why) {
        if (error)
            *error = why;
        return nullptr;
    };
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return failure(path + " names no file");
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return failure(directory
                       + (errno == ELOOP || errno == ENOTDIR ? " is no directory (a symbolic link is not followed)"
                                                             : ": " + std::string(std::strerror(errno))));
    struct stat status;
    std::string why;
    if (::fstat(fd, &status) != 0)
        why = directory + ": " + std::strerror(errno);
    else if (status.st_uid != 0 && status.st_uid != ::geteuid())
        why = directory + " belongs to another user, who could swap the metrics file for a link";
    else if (status.st_mode & (S_IWGRP | S_IWOTH))
        why = directory + " can be written by other users, who could swap the metrics file for a link";
    if (!why.empty()) {
        ::close(fd);
        return failure(why);
    }
    return std::unique_ptr<MetricsFile>(new MetricsFile(fd, name));
}

MetricsFile::MetricsFile(int directory, const std::string& name)
    : m_directory(directory)
    , m_name(name)
    , m_temporary("." + name + "." + std::to_string(::getpid()) + ".tmp")
{ }

MetricsFile::~MetricsFile()
{
    ::close(m_directory);
}

bool MetricsFile::write(const char* text, size_t size, int* failure) noexcept
{
    // Left by a writer that was killed outright: no other user can place
    // anything in this directory.
    ::unlinkat(m_directory, m_temporary.c_str(), 0);
    const int fd =
        ::openat(m_directory, m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool written = fd >= 0;
    if (!written)
        *failure = errno;
    for (size_t done = 0; written && done < size;) {
        const ssize_t count = ::write(fd, text + done, size - done);
        if (count > 0)
            done += static_cast<size_t>(count);
        else if (count == 0 || errno != EINTR)
            written = false;
    }
    // Readable by the collector, which runs as another user.
    if (written && (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0)) {
        *failure = errno;
        written = false;
    } else if (fd >= 0 && !written) {
        *failure = errno;
    }
    if (fd >= 0 && ::close(fd) != 0 && written) {
        *failure = errno;
        written = false;
    }
    if (written && ::renameat(m_directory, m_temporary.c_str(), m_directory, m_name.c_str()) != 0) {
        *failure = errno;
        written = false;
    }
    if (!written) {
        ::unlinkat(m_directory, m_temporary.c_str(), 0);
        // The verdict before this one must not stand for it: removing a
        // file needs no space.
        m_oldRemoved = ::unlinkat(m_directory, m_name.c_str(), 0) == 0 || errno == ENOENT;
    }
    return written;
}

bool MetricsFile::publish(const std::string& text, std::string* error)
{
    int failure = 0;
    if (write(text.data(), text.size(), &failure))
        return true;
    if (error)
        *error = "cannot write " + m_name + ": " + std::strerror(failure)
            + (m_oldRemoved ? "; the previous verdict was removed" : "; the previous verdict could not be removed");
    return false;
}

void MetricsFile::publishFromSignal(const char* text, size_t size) noexcept
{
    int failure = 0;
    write(text, size, &failure);
}
