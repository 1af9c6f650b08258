#pragma once

#include "calibration/Calibration.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <map>
#include <string>
#include <vector>

// What the benchmark programs share: the generated maps, timing and memory figures, and the
// report of growth and targets printed after Google Benchmark's table.

// The sizes every figure is taken at.
inline constexpr int BenchSizes[] = {1000, 10000, 100000, 1000000};
// The size the targets are set at.
inline constexpr int TargetSize = 100000;

// A map of Count calibrations in which every field varies from one calibration to the next, with
// Cyrillic names as real maps have them.
TCalibrationList MakeMap(int Count);

double MsSince(std::chrono::steady_clock::time_point Start);

// A field of /proc/self/status in MiB: "VmHWM:" is the peak resident size, "VmRSS:" the current
// one. -1 when it cannot be read.
double StatusMiB(const char* Field);

// Google Benchmark's console table, then for each benchmark its best real time at each size, the
// growth from one size to the next, and at TargetSize the figure against its target (in ms) when
// it has one. Benchmarks are named BM_What/Size and report in milliseconds.
class TGrowthReporter : public benchmark::ConsoleReporter {
public:
    explicit TGrowthReporter(std::map<std::string, double> TargetMs);

    void ReportRuns(const std::vector<Run>& Runs) override;
    void Finalize() override;

private:
    std::map<std::string, double> targetMs_;
    std::map<std::string, std::map<int, double>> bestMs_;
};

// Runs the benchmarks selected on the command line with a TGrowthReporter; the exit status.
int RunBenchmarks(int argc, char** argv, std::map<std::string, double> TargetMs);
