#pragma once

#include <QByteArray>
#include <QTextStream>

/**
 * orvel-update-check --apt-hook: the guard that apt runs before it calls
 * dpkg (DPkg::Pre-Install-Pkgs, protocol version 3 or 2).
 *
 * A transaction that installs or upgrades nothing in the guard's scope
 * passes at once. Otherwise the checks run on the sources of that apt run;
 * a refusal, or a request that cannot be read, stops apt before dpkg runs.
 * apt's configuration steers it: Orvel::Update-Guard=false lets one run
 * through with a warning; Orvel::Update-Guard::Scope is "all" (default) or
 * "orvel-version"; Orvel::Update-Guard::Log names a log file (info level);
 * Orvel::Update-Guard::Enabled-By names a file without which the guard is
 * off (the guard's package was removed, its configuration left behind).
 */
class AptHook
{
public:
    /// The most of apt's request that is read; apt sends some kilobytes.
    static constexpr int RequestLimitBytes = 16 * 1024 * 1024;

    /// Reads apt's request from @p input to its end and judges it.
    static int run(int input, QTextStream& errors);
    /// Judges apt's whole request @p input and returns the exit status;
    /// writes nothing when the update may go on, else the reasons to @p errors.
    static int judge(const QByteArray& input, QTextStream& errors);
};
