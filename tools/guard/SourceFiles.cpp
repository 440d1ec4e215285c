// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "SourceFiles.h"

#include <apt-pkg/configuration.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

void read(const std::string& path, std::vector<std::pair<std::string, std::vector<std::string>>>& files)
{
    std::ifstream stream(path);
    if (!stream)
        return;
    std::vector<std::string> lines;
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    files.emplace_back(path, std::move(lines));
}

} // namespace

SourceFiles::SourceFiles(const std::vector<std::pair<std::string, std::string>>& configuration)
{
    // apt's own rules for where its files are: relative values below their
    // parent directories, down from Dir.
    Configuration apt;
    for (const auto& entry : configuration)
        apt.Set(entry.first, entry.second);
    read(apt.FindFile("Dir::Etc::sourcelist"), m_files);
    std::vector<std::string> parts;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(apt.FindDir("Dir::Etc::sourceparts"), error)) {
        const std::string name = entry.path().filename().string();
        const auto endsWith = [&name](const std::string& end) {
            return name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
        };
        if (endsWith(".list") || endsWith(".sources"))
            parts.push_back(entry.path().string());
    }
    std::sort(parts.begin(), parts.end());
    for (const std::string& path : parts)
        read(path, m_files);
}

std::vector<std::pair<std::string, int>> SourceFiles::configuring(const std::string& url) const
{
    std::vector<std::pair<std::string, int>> found;
    for (const auto& file : m_files) {
        for (size_t number = 0; number < file.second.size(); ++number) {
            const std::string& line = file.second[number];
            std::istringstream words(line.substr(0, line.find('#')));
            for (std::string word; words >> word;) {
                if (word == url || word == url + "/") {
                    found.emplace_back(file.first, static_cast<int>(number + 1));
                    break;
                }
            }
        }
    }
    return found;
}
