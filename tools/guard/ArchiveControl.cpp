// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "ArchiveControl.h"

#include <apt-pkg/debfile.h>
#include <apt-pkg/deblistparser.h>
#include <apt-pkg/error.h>
#include <apt-pkg/fileutl.h>

namespace {

// apt's library reports through its global error stack: the first message,
// and nothing left behind for the next archive.
std::string takeErrors()
{
    std::string first;
    while (!_error->empty()) {
        std::string message;
        _error->PopMessage(message);
        if (first.empty())
            first = message;
    }
    return first.empty() ? std::string("apt's library gave no reason") : first;
}

// A package name as dpkg compares it: without an architecture qualifier.
std::string withoutArchitecture(const std::string& name)
{
    return name.substr(0, name.find(':'));
}

} // namespace

std::optional<ArchiveControl> ArchiveControl::read(const std::string& path, std::string* error)
{
    const auto failure = [error](const std::string& why) -> std::optional<ArchiveControl> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    _error->Discard();
    FileFd file(path, FileFd::ReadOnly);
    if (!file.IsOpen() || _error->PendingError())
        return failure(takeErrors());
    debDebFile archive(file);
    debDebFile::MemControlExtract extract("control");
    if (_error->PendingError() || !extract.Read(archive))
        return failure(takeErrors());

    ArchiveControl control;
    control.package = extract.Section.FindS("Package");
    control.version = extract.Section.FindS("Version");
    control.architecture = extract.Section.FindS("Architecture");
    if (control.package.empty() || control.version.empty())
        return failure("its control file names no package or no version");
    const std::string provides = extract.Section.FindS("Provides");
    const char* next = provides.c_str();
    const char* const end = next + provides.size();
    while (next != end) {
        Provided provided;
        unsigned int comparison = 0;
        next =
            debListParser::ParseDepends(next, end, provided.package, provided.version, comparison, false, false, false);
        if (!next)
            return failure("its Provides field cannot be read");
        if (!provided.package.empty())
            control.provides.push_back(std::move(provided));
    }
    return control;
}

std::vector<std::string> ArchiveControl::versionsOf(const std::string& package) const
{
    std::vector<std::string> versions;
    if (this->package == package)
        versions.push_back(version);
    // dpkg accepts only "=" in Provides: whatever stands there is the
    // version provided.
    for (const Provided& provided : provides)
        if (withoutArchitecture(provided.package) == package && !provided.version.empty())
            versions.push_back(provided.version);
    return versions;
}
