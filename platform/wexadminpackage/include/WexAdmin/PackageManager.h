// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QString>
#include <QStringList>

#include <WexAdmin/wexadminpackage_export.h>

namespace WexAdmin {

/**
 * Package queries through apt.
 *
 * Stand-in for the maker's package-manager library.
 */
class WEXADMINPACKAGE_EXPORT PackageManager
{
public:
    /**
     * Versions of @p package that the configured sources offer, distinct, in
     * the order apt lists them.
     *
     * Runs "apt-cache madison" with @p aptArgs (unchanged, no shell) and the
     * package name. Of a version such as "1.0+v1.7.5.16" only the text after
     * the last "+v" is returned, the same spelling that the versions-with-
     * sources command of the checks library produces. Returns an empty list
     * when apt-cache cannot be run, crashes or takes longer than 30 s.
     */
    static QStringList getAvailableVersionsList(const QString& package, const QStringList& aptArgs);
};

} // namespace WexAdmin
