// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptQueries.h"

#include <QRegularExpression>

namespace {

// apt's list of the package files that its sources configuration describes,
// each with the Version of its Release file as apt reads it, as records
// "FILENAME<tab>DESCRIPTION<tab>VERSION<tab>NONCE\n". A Release field may
// continue over lines of any text, but no repository knows this run's
// nonce: a record ends only where apt ended it. $SRANDOM is the kernel's
// randomness in bash 5.1 and later; before, it is unset and /dev/urandom
// serves. Without a nonce the query fails.
const char* const targetRecords =
    R"sh(nonce=${SRANDOM:+$SRANDOM$SRANDOM$SRANDOM$SRANDOM} && { [ -n "$nonce" ] || nonce=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n'); } && )sh"
    R"sh([ ${#nonce} -ge 16 ] && )sh"
    R"sh(targets=$(apt-get indextargets "${apt_args[@]}" --format "\$(FILENAME)"$'\t'"\$(DESCRIPTION)"$'\t'"\$(VERSION)"$'\t'"$nonce" 'Created-By: Packages') && )sh";

// Reads the records above, then (after a record "SHOWPKG") apt-cache
// showpkg's text of orvel-version and of its providers, and prints each
// release as "DESCRIPTION<tab>RELEASE" (RELEASE: the first line of the
// Version field; none when it is empty, or absent, which apt prints as
// "$(VERSION)"), then with -v versions=1 an empty
// line and "VERSION | DESCRIPTION" for each version of orvel-version, on
// every architecture, and each version that a provider provides, with each
// package file that offers it. A file that no target names (dpkg's status)
// offers nothing. Text of another shape fails it (exit 4).
const char* const readAnswers =
    R"awk(gawk -v nonce="$nonce" -v versions=%1 'BEGIN {RS = "\t" nonce "\n"; FS = "\t"} )awk"
    R"awk(function bad(why) {print why > "/dev/stderr"; failed = 1; exit 4} )awk"
    R"awk(!showpkg {sub(/^\n+/, "")} )awk"
    R"awk(!showpkg && $0 == "SHOWPKG" {showpkg = 1; RS = "\n"; FS = " "; next} )awk"
    R"awk(!showpkg && $0 == "" {next} )awk"
    R"awk(!showpkg {if (NF < 3 || $1 == "" || $2 == "") bad("apt-get indextargets printed a record that is not FILENAME, DESCRIPTION, VERSION"); )awk"
    R"awk(release = substr($0, length($1) + length($2) + 3); sub(/\n.*/, "", release); described[$1] = $2; )awk"
    R"awk(if (release != "" && release != "$(VERSION)") releases[++releaseCount] = $2 "\t" release; next} )awk"
    R"awk(/^Package: [^ ]+$/ {package = substr($0, 10); part = ""; next} )awk"
    R"awk(package == "" && $0 != "" {bad("apt-cache showpkg printed text that is not about a package")} )awk"
    R"awk(/^(Versions|Reverse Depends|Dependencies|Provides|Reverse Provides): *$/ {part = $0; sub(/ *$/, "", part); next} )awk"
    R"awk(part == "Versions:" && $0 != "" && !/^ / {if (!match($0, /^([^ ()]+) \((.*)\) *$/, v)) bad("apt-cache showpkg printed a version line that is not VERSION (FILE)..."); )awk"
    R"awk(key = package " " v[1]; if (!(key in files)) order[++keys] = key; files[key] = files[key] ") (" v[2]; next} )awk"
    R"awk(part == "Reverse Provides:" && package ~ /^orvel-version(:|$)/ && NF == 4 && $3 == "(=" && $4 != ")" )awk"
    R"awk({sub(/\)$/, "", $4); provides[$1 " " $2] = provides[$1 " " $2] " " $4} )awk"
    R"awk(END {if (failed) exit 4; for (i = 1; i <= releaseCount; ++i) print releases[i]; if (!versions) exit 0; print ""; )awk"
    R"awk(for (i = 1; i <= keys; ++i) {key = order[i]; split(key, p, " "); )awk"
    R"awk(if (p[1] ~ /^orvel-version(:[^ ]+)?$/) offered = p[2]; else if (key in provides) offered = substr(provides[key], 2); else continue; )awk"
    R"awk(n = split(substr(files[key], 4), list, /\) \(/); m = split(offered, ov, " "); )awk"
    R"awk(for (f = 1; f <= n; ++f) if (list[f] in described) for (o = 1; o <= m; ++o) )awk"
    R"awk(if (!seen[ov[o] " | " described[list[f]]]++) print ov[o] " | " described[list[f]]}}')awk";

} // namespace

QString AptQueries::releases()
{
    return QString::fromLatin1(targetRecords) + QStringLiteral(R"(printf '%s\n' "$targets" | )")
        + QString::fromLatin1(readAnswers).arg(0);
}

QString AptQueries::packageVersions()
{
    // orvel-version on every architecture apt is configured for (":*": the
    // cache holds those alone), and the packages that provide it with a
    // version (its "Reverse Provides"), asked in a second run only when
    // there are any. Lines that start with a space (the descriptions of
    // every version, the bulk of it) are dropped as they come: nothing
    // read is among them. The providers are read in bash itself, without
    // a here-string, which may need a temporary file.
    return QString::fromLatin1(targetRecords)
        + QStringLiteral(
               R"sh(shown=$(apt-cache showpkg "${apt_args[@]}" 'orvel-version:*' | sed '/^ /d') && )sh"
               R"sh(providers=() && declare -A named=() && reverse=0 && set -f && IFS=$'\n' && for line in $shown; do )sh"
               R"sh(if [[ $line == "Package: "* ]]; then reverse=0; elif [[ $line =~ ^Reverse\ Provides:\ *$ ]]; then reverse=1; )sh"
               R"sh(elif ((reverse)); then IFS=$' \t\n' && word=($line) && IFS=$'\n' && )sh"
               R"sh(if ((${#word[@]} == 4)) && [ "${word[2]}" = "(=" ] && [ "${word[3]}" != ")" ] && [ -z "${named[${word[0]}]:-}" ]; )sh"
               R"sh(then named[${word[0]}]=1; providers+=("${word[0]}"); fi; fi; done && IFS=$' \t\n' && set +f && )sh"
               R"sh(others= && { ((${#providers[@]} == 0)) || others=$(apt-cache showpkg "${apt_args[@]}" "${providers[@]}" | sed '/^ /d'); } && )sh"
               R"sh(printf '%s\nSHOWPKG\t%s\n%s\n%s\n' "$targets" "$nonce" "$shown" "$others" | )sh")
        + QString::fromLatin1(readAnswers).arg(1);
}

QString AptQueries::argumentsArray(QStringList const& aptArgs)
{
    // Once, however many commands use them: a single argument to bash may
    // not exceed 128 KiB. apt-cache runs under the name apt-get, so that it
    // reads apt's configuration as the installer does: apt moves the
    // settings of Binary::<the name it runs as> into its configuration.
    return QStringLiteral(R"(apt_args=(%1); apt-cache() { (exec -a apt-get apt-cache "$@"); }; )")
        .arg(quotedForShell(aptArgs));
}

QString AptQueries::quotedForShell(QStringList const& words)
{
    // Single quotes keep every character literal in bash; a quote itself is
    // closed, escaped and reopened.
    QStringList quoted;
    quoted.reserve(words.size());
    for (QString word : words)
        quoted << QLatin1Char('\'') + word.replace(QLatin1Char('\''), QLatin1String("'\\''")) + QLatin1Char('\'');
    return quoted.join(QLatin1Char(' '));
}

QString AptQueries::strayWord(QStringList const& aptArgs)
{
    static const QRegularExpression takesValue(
        QStringLiteral("^(-[A-Za-z]*[octa]|--(option|config-file|target-release|default-release|host-architecture))$"));
    for (int i = 0; i < aptArgs.size(); ++i) {
        const QString& argument = aptArgs.at(i);
        if (argument == QLatin1String("--"))
            return aptArgs.value(i + 1);
        if (takesValue.match(argument).hasMatch())
            ++i;
        else if (!argument.startsWith(QLatin1Char('-')))
            return argument;
    }
    return QString();
}
