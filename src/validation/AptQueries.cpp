// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "AptQueries.h"

#include <QRegularExpression>

QString AptQueries::policyReleases(bool fileFirst)
{
    // First the package files that apt's sources configuration describes
    // (text no repository writes), then an empty line, then the policy.
    return QStringLiteral(
               R"({ apt-get indextargets "${apt_args[@]}" --format '$(DESCRIPTION)' 'Created-By: Packages' && echo && apt-cache policy "${apt_args[@]}"; } | )"
               R"(gawk -v fileFirst=%1 '!policy && $0 == "" {policy = 1; next} !policy {known[$0] = 1; next} )"
               R"(/^Package files:/ {files = 1; inFiles = 1; next} )"
               R"(/^Pinned packages:/ {inFiles = 0} )"
               R"(inFiles && !file && /^ +release v=/ {print "apt-cache policy listed a release before any package file" > "/dev/stderr"; exit 5} )"
               R"(inFiles && /^ -?[0-9]+ / {file = $0; sub(/^ -?[0-9]+ /, "", file); after = 1; )"
               R"(if ((file in known) && seen[file]++) {print "apt-cache policy listed the package file " file " twice" > "/dev/stderr"; exit 5} next} )"
               R"(after && file != "" && match($0, /^ +release v=([^,]+)/, ver) {if (!(file in known)) )"
               R"({print "apt-cache policy listed a release of a package file that no source describes: " file > "/dev/stderr"; exit 5} )"
               R"(print (fileFirst ? file "\t" ver[1] : ver[1] " | " file)} )"
               R"({after = 0} )"
               R"(END {if (!files) {print "apt-cache policy listed no package files" > "/dev/stderr"; exit 3}}')")
        .arg(fileFirst ? 1 : 0);
}

QString AptQueries::packageVersions()
{
    // orvel-version on every architecture apt is configured for (":*": the
    // cache holds those alone), and each package that provides it with a
    // version: madison's "version | source" for the former, and for the
    // latter the version it provides in place of its own. A line of
    // madison's that is none of these fails the command.
    return QStringLiteral(
        R"sh(provided=$(apt-cache showpkg "${apt_args[@]}" 'orvel-version:*' | gawk '/^Package: / {reverse = 0} /^Reverse Provides: *$/ {reverse = 1; next} )sh"
        R"sh(reverse && NF == 4 && $3 == "(=" && $4 != ")" {sub(/\)$/, "", $4); print $1, $2, $4}') && )sh"
        R"sh(providers=() && while read -r provider _; do [ -z "$provider" ] || providers+=("$provider"); done <<<"$provided" && )sh"
        R"sh({ printf '%s\n\n' "$provided"; apt-cache madison "${apt_args[@]}" 'orvel-version:*' "${providers[@]}" 2>/dev/null; } | )sh"
        R"sh(gawk -F' [|] ' '!madison && $0 == "" {madison = 1; next} )sh"
        R"sh(!madison {split($0, p, " "); provides[p[1] " " p[2]] = provides[p[1] " " p[2]] " " p[3]; provider[p[1]] = 1; next} )sh"
        R"sh(NF == 0 {next} {name = $1; gsub(/^ +| +$/, "", name); version = $2; gsub(/^ +| +$/, "", version)} )sh"
        R"sh(NF < 3 || (name !~ /^orvel-version(:[^ ]+)?$/ && !(name in provider)) )sh"
        R"sh({print "apt-cache madison printed a line that is not package | version | source" > "/dev/stderr"; bad = 1; next} )sh"
        R"sh(name ~ /^orvel-version(:|$)/ && !seen[version " | " $3]++ {print version " | " $3} )sh"
        R"sh((name " " version) in provides {n = split(provides[name " " version], v, " "); )sh"
        R"sh(for (i = 1; i <= n; ++i) if (!seen[v[i] " | " $3]++) print v[i] " | " $3} )sh"
        R"sh(END {exit bad ? 4 : 0}')sh");
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
