// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <string>
#include <utility>
#include <vector>

/**
 * The files of apt's sources configuration, to tell an admin which file
 * and line configure a refused source: the main list
 * (Dir::Etc::sourcelist) and the *.list and *.sources files of
 * Dir::Etc::sourceparts, found as apt finds them (libapt-pkg) from the
 * configuration of an apt run.
 */
class SourceFiles
{
public:
    /// Reads the files that @p configuration (apt's, as "key", "value"
    /// pairs) names; a file that cannot be read is left out.
    explicit SourceFiles(const std::vector<std::pair<std::string, std::string>>& configuration);

    /// The file and line number (from 1) of each line that names @p url
    /// (with or without a trailing "/") as one of its words, outside
    /// comments.
    std::vector<std::pair<std::string, int>> configuring(const std::string& url) const;

private:
    std::vector<std::pair<std::string, std::vector<std::string>>> m_files;
};
