// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <cstddef>
#include <memory>
#include <string>

/**
 * A metrics file for the node exporter's textfile collector, written by
 * root in a directory whose parent another user may own (Debian's
 * /var/lib/prometheus belongs to the prometheus user).
 *
 * Nothing is reached by name after open(): the directory is opened without
 * following a symbolic link and must belong to root (or to this process's
 * user) and be writable by nobody else, so no other user can swap what is
 * in it; the new text goes to a temporary file in it (not *.prom, which the
 * collector would read), is set to 0644 and renamed over the metrics file,
 * all relative to the opened directory. The text is PrometheusText's.
 */
class MetricsFile
{
public:
    /**
     * Opens the directory that holds @p path. A directory that is a
     * symbolic link, missing, or owned or writable by another user gives
     * nothing and a sentence in @p error.
     */
    static std::unique_ptr<MetricsFile> open(const std::string& path, std::string* error);
    ~MetricsFile();
    MetricsFile(const MetricsFile&) = delete;
    MetricsFile& operator=(const MetricsFile&) = delete;

    /// Replaces the metrics file by @p text, atomically; else false and why.
    bool publish(const std::string& text, std::string* error);
    /**
     * The same with async-signal-safe calls alone, for a signal handler
     * that ends the program: a temporary file that publish() had begun is
     * removed first. Nothing is reported.
     */
    void publishFromSignal(const char* text, size_t size) noexcept;

private:
    MetricsFile(int directory, const std::string& name);
    bool write(const char* text, size_t size, int* failure) noexcept;

    int m_directory;
    std::string m_name;
    /// The temporary file's name, fixed at open() so that a signal handler
    /// needs no allocation.
    std::string m_temporary;
    /// After a failed write: whether the previous verdict is gone.
    bool m_oldRemoved = false;
};
