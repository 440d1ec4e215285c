// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <optional>
#include <string>
#include <vector>

/**
 * The control fields of a .deb archive, read from the archive itself with
 * apt's own library (libapt-pkg): what dpkg is about to install, whatever
 * a repository's index said of the file.
 *
 * The control member is the one dpkg reads: the one that follows
 * debian-binary (members named "_..." aside). An archive whose members are
 * not in the order dpkg accepts (debian-binary, control.tar[.gz|.xz|.zst],
 * data.tar[...], with "_..." members before either) is not read.
 */
class ArchiveControl
{
public:
    struct Provided {
        std::string package;
        /// Empty when the package is provided without a version.
        std::string version;
    };

    /**
     * Reads the archive at @p path. A file that is no .deb, or whose
     * control fields cannot be read (Package and Version missing, a
     * Provides field that does not parse), gives no value and a sentence
     * in @p error.
     */
    static std::optional<ArchiveControl> read(const std::string& path, std::string* error);

    /// The versions of @p package that the archive installs (its own
    /// Version, when it is that package) or provides with a version.
    std::vector<std::string> versionsOf(const std::string& package) const;
    /// True when the archive, being another package, takes @p package over
    /// (Replaces it, or Provides it without a version) without providing it
    /// with a version: it says nothing of what it brings in its place.
    bool takesOverWithoutVersion(const std::string& package) const;

    std::string package;
    std::string version;
    std::string architecture;
    std::vector<Provided> provides;
    /// The packages of its Replaces field, without version or architecture.
    std::vector<std::string> replaces;
};
