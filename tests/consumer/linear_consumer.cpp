// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

// A program that links only liborvelupdatechecks and Qt Core: runs the linear
// check with a log file and prints the verdict and the refused sources.
#include <LinearValidator.h>
#include <Logger.h>

#include <QTextStream>

#include <algorithm>
#include <memory>

int main(int argc, char** argv)
{
    if (argc < 2) {
        QTextStream(stderr) << "usage: linear_consumer LOGFILE [APT-ARG...]\n";
        return 2;
    }
    QStringList aptArgs;
    for (int i = 2; i < argc; ++i)
        aptArgs << QString::fromLocal8Bit(argv[i]);

    auto logger = std::make_shared<Logger>(QString::fromLocal8Bit(argv[1]), Logger::Debug);
    LinearValidator validator(logger, aptArgs);
    const bool linear = validator.check();

    QStringList sources = validator.getInvalidSources().values();
    std::sort(sources.begin(), sources.end());
    QTextStream out(stdout);
    out << (linear ? "linear" : "not linear") << '\n';
    for (const QString& source : sources)
        out << source << '\n';
    return linear ? 0 : 1;
}
