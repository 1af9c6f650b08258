// The map file and the exported INI import on generated maps of 1,000 to 1,000,000
// calibrations: ReadMapFile, WriteMapFile, ReadIniMap. After Google Benchmark's table it prints
// the best time at each size, the growth from each size to the next and the targets.
//
//   bench_mapfile [--benchmark_filter=...]     the table
//   bench_mapfile --make-map N FILE            writes a map of N calibrations (for compare.py)
//   bench_mapfile --time-read FILE             ReadMapFile of FILE: the best of 3, in ms
//   bench_mapfile --first write|read|import N  one call of a fresh process on N calibrations

#include "BenchSupport.h"
#include "calibration/TextConv.h"
#include "mapfiles/Catalogue.h"
#include "mapfiles/IniFile.h"
#include "mapfiles/IniImport.h"
#include "mapfiles/MapFile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// An export of Count tables as the outside program writes it (Windows-1251, CRLF): mostly
// tables the catalogue does not know, and every catalogue table once, spread through the file.
QByteArray MakeExport(int Count) {
    const auto& catalogue = CalibrationCatalogue();
    QString text;
    text.reserve(qsizetype(Count) * 200);
    const int every = std::max(1, Count / int(catalogue.size()));
    for (int i = 0; i < Count; ++i) {
        const size_t entry = size_t(i / every);
        const bool known = i % every == every / 2 && entry < catalogue.size();
        const QString name = known ? catalogue[entry].Name : QStringLiteral("Таблица_%1").arg(i);
        text += QStringLiteral("[Table%1]\r\nName=\"%2\"\r\nType=%3D\r\nOffset00=0x%4\r\n"
                               "Addr=0x%5\r\nPixelX=16\r\nPixelY=8\r\nF_MulMul=0,0078125\r\n"
                               "F_DivDiv=1\r\nF_Sub1st=-40\r\nFormat=0x1FF\r\n")
                    .arg(i)
                    .arg(name)
                    .arg(1 + i % 3)
                    .arg(uint(i) * 2654435761u, 8, 16, QChar(u'0'))
                    .arg(0x10000 + i * 16, 0, 16);
    }
    QByteArray bytes;
    bytes.reserve(text.size());
    // The text is Cyrillic, Latin and digits only: a direct Windows-1251 mapping.
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        bytes += c < 0x80    ? char(c)
                 : c == u'Ё' ? char(0xA8)
                 : c == u'ё' ? char(0xB8)
                             : char(0xC0 + (c - u'А'));
    }
    return bytes;
}

// One folder for the whole run, with each size's files made once.
struct Files {
    QTemporaryDir Dir;
    std::map<int, QString> Maps;
    std::map<int, QString> Exports;

    const QString& Map(int Count) {
        auto it = Maps.find(Count);
        if (it == Maps.end()) {
            const QString path = Dir.filePath(QStringLiteral("map%1.vlm").arg(Count));
            WriteMapFile(path, MakeMap(Count));
            it = Maps.emplace(Count, path).first;
        }
        return it->second;
    }
    const QString& Export(int Count) {
        auto it = Exports.find(Count);
        if (it == Exports.end()) {
            const QString path = Dir.filePath(QStringLiteral("export%1.ini").arg(Count));
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(MakeExport(Count)) < 0)
                std::abort();
            it = Exports.emplace(Count, path).first;
        }
        return it->second;
    }
};

Files& Shared() {
    static Files files;
    return files;
}

void BM_ReadMapFile(benchmark::State& State) {
    const int count = int(State.range(0));
    const QString& path = Shared().Map(count);
    for (auto _ : State) {
        const TCalibrationList list = ReadMapFile(path);
        if (list.Count() != count)
            State.SkipWithError("wrong count");
        benchmark::DoNotOptimize(list.Items.data());
    }
    State.counters["bytes"] = double(QFileInfo(path).size());
    State.SetItemsProcessed(State.iterations() * count);
}

void BM_WriteMapFile(benchmark::State& State) {
    const int count = int(State.range(0));
    const TCalibrationList list = MakeMap(count);
    const QString path = Shared().Dir.filePath(QStringLiteral("written.vlm"));
    for (auto _ : State)
        WriteMapFile(path, list);
    State.SetItemsProcessed(State.iterations() * count);
}

void BM_ReadIniMap(benchmark::State& State) {
    const int count = int(State.range(0));
    const QString& path = Shared().Export(count);
    for (auto _ : State) {
        const TIniFile ini(path);
        const TCalibrationList list = ReadIniMap(ini);
        if (list.Count() != 18) // 20 entries less the two correction fallbacks
            State.SkipWithError("wrong count");
        benchmark::DoNotOptimize(list.Items.data());
    }
    State.counters["bytes"] = double(QFileInfo(path).size());
    State.SetItemsProcessed(State.iterations() * count);
}

void Sizes(benchmark::internal::Benchmark* B) {
    for (int n : BenchSizes)
        B->Arg(n);
    B->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_ReadMapFile)->Apply(Sizes);
BENCHMARK(BM_WriteMapFile)->Apply(Sizes);
BENCHMARK(BM_ReadIniMap)->Apply(Sizes);

double TimeRead(const QString& Path) {
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const TCalibrationList list = ReadMapFile(Path);
        benchmark::DoNotOptimize(list.Items.data());
        best = std::min(best, MsSince(start));
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    // Maps are written as on the machines they come from, with a decimal comma.
    SetDecimalSeparator(u',');
    if (argc == 4 && std::strcmp(argv[1], "--make-map") == 0) {
        WriteMapFile(QString::fromLocal8Bit(argv[3]), MakeMap(std::atoi(argv[2])));
        return 0;
    }
    // The first call of a fresh process, with nothing to reuse from an earlier run: the like-for-
    // like way to compare sizes, since inside one process a 100,000 map gets its buffers back from
    // the heap while a 1,000,000 map takes every page from the kernel.
    if (argc == 4 && std::strcmp(argv[1], "--first") == 0) {
        const int count = std::atoi(argv[3]);
        const std::string what = argv[2];
        QTemporaryDir dir;
        const QString map = dir.filePath(QStringLiteral("map.vlm"));
        const QString exported = dir.filePath(QStringLiteral("export.ini"));
        // The inputs are made by a child, so that this process starts with a clean heap.
        if (what == "read" || what == "import") {
            if (fork() == 0) {
                if (what == "read") {
                    WriteMapFile(map, MakeMap(count));
                } else {
                    QFile file(exported);
                    if (!file.open(QIODevice::WriteOnly) || file.write(MakeExport(count)) < 0)
                        _exit(1);
                }
                _exit(0);
            }
            int status = 0;
            wait(&status);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                return 1;
        }
        if (what == "write") {
            const TCalibrationList list = MakeMap(count);
            const auto start = std::chrono::steady_clock::now();
            WriteMapFile(map, list);
            std::printf("WriteMapFile %d %.1f ms\n", count, MsSince(start));
        } else if (what == "read") {
            const auto start = std::chrono::steady_clock::now();
            const TCalibrationList list = ReadMapFile(map);
            std::printf("ReadMapFile %d %.1f ms\n", list.Count(), MsSince(start));
        } else if (what == "import") {
            const auto start = std::chrono::steady_clock::now();
            const TIniFile ini(exported);
            const TCalibrationList list = ReadIniMap(ini);
            std::printf("ReadIniMap %d %.1f ms (%d kept)\n", count, MsSince(start), list.Count());
        } else {
            return 64;
        }
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--time-read") == 0) {
        const QString path = QString::fromLocal8Bit(argv[2]);
        std::printf("%d calibrations %.1f ms\n", ReadMapFile(path).Count(), TimeRead(path));
        return 0;
    }
    return RunBenchmarks(argc, argv, {{"BM_ReadMapFile", 250}, {"BM_WriteMapFile", 250}});
}
