// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

// Reading version-source lines: the cost per line must not grow with the
// number of lines.

#include <UpdateValidator.h>

#include <benchmark/benchmark.h>

namespace {

class ParseOnly : public UpdateValidator
{
public:
    using UpdateValidator::UpdateValidator;
    bool check() override { return true; }
};

QStringList sampleLines(int count)
{
    QStringList lines;
    lines.reserve(count);
    for (int i = 0; i < count; ++i) {
        // Both shapes the versions-with-sources command prints.
        if (i % 2)
            lines << QStringLiteral("1.7.%1|file:/srv/orvel/repo%2").arg(i).arg(i % 100);
        else
            lines << QStringLiteral("1.7.%1.16 | file:/srv/orvel/repo%2 ./ Packages").arg(i).arg(i % 100);
    }
    return lines;
}

void ParseVersionsWithSources(benchmark::State& state)
{
    const QStringList lines = sampleLines(static_cast<int>(state.range(0)));
    ParseOnly validator(nullptr, {});
    for (auto _ : state) {
        QMultiHash<QString, QString> map = validator.parseVersionsWithSources(lines);
        benchmark::DoNotOptimize(map);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(ParseVersionsWithSources)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oAuto);

BENCHMARK_MAIN();
