// Runs the registered benchmarks and prints, for each pair given, how many times the first
// costs the second, measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

struct Ratio {
    std::string measured;
    std::string baseline;
    std::string goal; // e.g. "< 2"
};

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

inline int RunWithRatios(int argc, char** argv, const std::vector<Ratio>& ratios) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    for (const Ratio& r : ratios) {
        auto m = reporter.times.find(r.measured);
        auto b = reporter.times.find(r.baseline);
        if (m == reporter.times.end() || b == reporter.times.end() || b->second <= 0)
            continue;
        std::printf("ratio %s / %s = %.2f (goal %s)\n", r.measured.c_str(), r.baseline.c_str(),
                    m->second / b->second, r.goal.c_str());
    }
    benchmark::Shutdown();
    return 0;
}

} // namespace bench
