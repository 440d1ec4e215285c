// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

// A consumer of the installed library: runs the manager with the apt
// arguments it is given and prints the verdict, the sorted sources and the
// rule of each refusal.
#include <UpdateValidatorManager.h>

#include <QTextStream>

#include <algorithm>

int main(int argc, char** argv)
{
    QStringList aptArgs;
    for (int i = 1; i < argc; ++i)
        aptArgs << QString::fromLocal8Bit(argv[i]);
    UpdateValidatorManager manager(nullptr, aptArgs);
    const bool allowed = manager.check();
    QStringList sources = manager.getAllInvalidSources();
    std::sort(sources.begin(), sources.end());
    QTextStream out(stdout);
    out << (allowed ? "allowed" : "refused") << '\n';
    for (const QString& source : sources)
        out << source << '\n';
    for (const Refusal& refusal : manager.getRefusals())
        out << refusal.rule << ' ' << refusal.version << '\n';
    return 0;
}
