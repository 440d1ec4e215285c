// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "ArchiveControl.h"

#include <apt-pkg/arfile.h>
#include <apt-pkg/debfile.h>
#include <apt-pkg/deblistparser.h>
#include <apt-pkg/error.h>
#include <apt-pkg/fileutl.h>

#include <algorithm>

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

bool isMember(const std::string& name, const std::string& base, std::initializer_list<const char*> compressions)
{
    if (name == base)
        return true;
    for (const char* extension : compressions)
        if (name == base + extension)
            return true;
    return false;
}

// The name of the control member, as dpkg finds it: the first member after
// debian-binary that is not named "_...", followed (members "_..." aside)
// by the data member; later members are ignored, as dpkg ignores them.
// Empty, with @p error set, for any other order.
std::string controlMember(ARArchive& archive, std::string* error)
{
    // In the order of the file (apt's list is not), each name without the
    // "/" that an ar name may end with.
    std::vector<std::pair<unsigned long long, std::string>> members;
    for (const ARArchive::Member* member = archive.Members(); member; member = member->Next) {
        std::string name = member->Name;
        if (!name.empty() && name.back() == '/')
            name.pop_back();
        members.emplace_back(member->Start, name);
    }
    std::sort(members.begin(), members.end());
    auto next = members.cbegin();
    const auto nextRequired = [&next, &members]() {
        while (next != members.cend() && next->second.compare(0, 1, "_") == 0)
            ++next;
        return next == members.cend() ? std::string() : (next++)->second;
    };
    if (members.empty() || (next++)->second != "debian-binary") {
        *error = "its first member is not debian-binary";
        return std::string();
    }
    const std::string control = nextRequired();
    if (!isMember(control, "control.tar", {".gz", ".xz", ".zst"})) {
        *error = "the member after debian-binary is not control.tar";
        return std::string();
    }
    if (!isMember(nextRequired(), "data.tar", {".gz", ".xz", ".zst", ".bz2", ".lzma"})) {
        *error = "the member after " + control + " is not data.tar";
        return std::string();
    }
    return control;
}

// Each package of a dependency field (Provides, Replaces), with the
// version it names; false when the field does not parse.
bool parseRelations(const std::string& field, std::vector<ArchiveControl::Provided>& into)
{
    const char* next = field.c_str();
    const char* const end = next + field.size();
    while (next != end) {
        ArchiveControl::Provided relation;
        unsigned int comparison = 0;
        next =
            debListParser::ParseDepends(next, end, relation.package, relation.version, comparison, false, false, false);
        if (!next)
            return false;
        if (!relation.package.empty())
            into.push_back(std::move(relation));
    }
    return true;
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
    ARArchive members(file);
    if (_error->PendingError())
        return failure(takeErrors());
    std::string orderError;
    const std::string member = controlMember(members, &orderError);
    if (member.empty())
        return failure("it is not a .deb as dpkg reads it: " + orderError);
    // That member and no other: apt's own choice among control members
    // goes by compressor, not by order.
    if (!file.Seek(0))
        return failure(takeErrors());
    debDebFile archive(file);
    debDebFile::MemControlExtract extract("control");
    if (_error->PendingError() || !archive.ExtractTarMember(extract, member.c_str()))
        return failure(takeErrors());
    if (!extract.Control)
        return failure("its control member holds no control file");
    // The extractor keeps the file's bytes; TakeControl() parses a copy of
    // them (it replaces the buffer it is given).
    const std::string controlFile(extract.Control, extract.Length);
    if (!extract.TakeControl(controlFile.data(), controlFile.size()))
        return failure("its control file cannot be read");

    ArchiveControl control;
    control.package = extract.Section.FindS("Package");
    control.version = extract.Section.FindS("Version");
    control.architecture = extract.Section.FindS("Architecture");
    if (control.package.empty() || control.version.empty())
        return failure("its control file names no package or no version");
    if (!parseRelations(extract.Section.FindS("Provides"), control.provides))
        return failure("its Provides field cannot be read");
    std::vector<Provided> replaces;
    if (!parseRelations(extract.Section.FindS("Replaces"), replaces))
        return failure("its Replaces field cannot be read");
    for (const Provided& replaced : replaces)
        control.replaces.push_back(withoutArchitecture(replaced.package));
    return control;
}

bool ArchiveControl::takesOverWithoutVersion(const std::string& package) const
{
    if (this->package == package || !versionsOf(package).empty())
        return false;
    for (const Provided& provided : provides)
        if (withoutArchitecture(provided.package) == package)
            return true;
    return std::find(replaces.cbegin(), replaces.cend(), package) != replaces.cend();
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
