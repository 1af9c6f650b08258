#include "BenchSupport.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>

TCalibrationList MakeMap(int Count) {
    TCalibrationList list;
    list.Items.reserve(size_t(Count));
    for (int i = 0; i < Count; ++i) {
        auto c = std::make_unique<TCalibration>();
        c->Name = QStringLiteral("Поправка циклового наполнения %1").arg(i);
        c->Id = i;
        c->IdMox = QStringLiteral("%1").arg(uint(i) * 2654435761u, 8, 16, QChar(u'0')).toUpper();
        c->ByteAdress = 0x10000 + i * 16;
        c->ByteLength = 16 * (1 + i % 17);
        c->TypeTable = 1 + i % 3;
        c->TypeTaring = i % 256;
        c->ValueStep = 0.0078125 * (1 + i % 13);
        c->ValueOffset = -40.5 + i % 7;
        c->ValueDivision = 1.0 / (1 + i % 5);
        c->CoefRevMyl = i % 2 ? 0.0 : 2.0 / 3;
        list.Add(std::move(c));
    }
    return list;
}

double MsSince(std::chrono::steady_clock::time_point Start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start)
        .count();
}

double StatusMiB(const char* Field) {
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(Field))
            return line.mid(qsizetype(std::strlen(Field))).trimmed().split(' ')[0].toDouble() /
                   1024.0;
    return -1;
}

namespace {

benchmark::ConsoleReporter::OutputOptions ConsoleOptions() {
    // Colours only on a terminal, so that a saved report stays plain text.
    return isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                 : benchmark::ConsoleReporter::OO_Tabular;
}

} // namespace

TGrowthReporter::TGrowthReporter(std::map<std::string, double> TargetMs)
    : ConsoleReporter(ConsoleOptions()), targetMs_(std::move(TargetMs)) {}

void TGrowthReporter::ReportRuns(const std::vector<Run>& Runs) {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run& run : Runs) {
        if (run.error_occurred || run.run_type != Run::RT_Iteration)
            continue;
        const int size = std::stoi(run.run_name.args);
        auto& best = bestMs_[run.run_name.function_name];
        const double ms = run.GetAdjustedRealTime(); // in the run's unit, ms
        const auto it = best.find(size);
        best[size] = it == best.end() ? ms : std::min(it->second, ms);
    }
}

void TGrowthReporter::Finalize() {
    ConsoleReporter::Finalize();
    std::printf("\nbest real time, ms            1,000     10,000    100,000  1,000,000\n");
    for (const auto& [name, bySize] : bestMs_) {
        std::printf("%-26s", name.c_str());
        for (int n : BenchSizes) {
            const auto it = bySize.find(n);
            if (it != bySize.end())
                std::printf(" %10.2f", it->second);
            else
                std::printf(" %10s", "-");
        }
        std::printf("\n");
    }
    std::printf("\ngrowth                       1k->10k  10k->100k   100k->1M   (100k->1M target "
                "<= 12x)\n");
    for (const auto& [name, bySize] : bestMs_) {
        std::printf("%-26s", name.c_str());
        for (size_t k = 0; k + 1 < std::size(BenchSizes); ++k) {
            const auto a = bySize.find(BenchSizes[k]), b = bySize.find(BenchSizes[k + 1]);
            if (a != bySize.end() && b != bySize.end())
                std::printf(" %9.2fx", b->second / a->second);
            else
                std::printf(" %10s", "-");
        }
        const auto a = bySize.find(TargetSize), b = bySize.find(TargetSize * 10);
        if (a != bySize.end() && b != bySize.end())
            std::printf("   %s", b->second / a->second <= 12 ? "met" : "MISSED");
        std::printf("\n");
    }
    bool heading = false;
    for (const auto& [name, bySize] : bestMs_) {
        const auto it = bySize.find(TargetSize);
        if (it == bySize.end())
            continue;
        if (!heading)
            std::printf("\nat %d calibrations\n", TargetSize);
        heading = true;
        std::printf("%-26s %9.1f ms", name.c_str(), it->second);
        const auto target = targetMs_.find(name);
        if (target != targetMs_.end())
            std::printf("   target <= %.0f ms: %s", target->second,
                        it->second <= target->second ? "met" : "MISSED");
        std::printf("\n");
    }
}

int RunBenchmarks(int argc, char** argv, std::map<std::string, double> TargetMs) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TGrowthReporter reporter(std::move(TargetMs));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
