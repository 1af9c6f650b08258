// The calibration table with large maps, on generated maps of 1,000 to 1,000,000 calibrations:
// ClearGrid + FillGrid followed by CollectGridCalibrations, as Load VLM and Save VLM use them;
// and Load VLM end to end in the real window (offscreen unless QT_QPA_PLATFORM says otherwise),
// from the answered file dialog to the painted table, at 100,000 and 1,000,000.
//
//   bench_grid [--benchmark_filter=...] [--benchmark_repetitions=N]

#include "BenchSupport.h"
#include "calibration/TextConv.h"
#include "mapfiles/MapFile.h"
#include "ui/CalibrationGrid.h"
#include "ui/FileDialogs.h"
#include "ui/UFromMain.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <map>

namespace {

// Each size's map, made once for the whole run.
const TCalibrationList& Map(int Count) {
    static std::map<int, TCalibrationList> maps;
    auto it = maps.find(Count);
    if (it == maps.end())
        it = maps.emplace(Count, MakeMap(Count)).first;
    return it->second;
}

void BM_FillAndCollect(benchmark::State& State) {
    const int count = int(State.range(0));
    const TCalibrationList& list = Map(count);
    TStringGrid grid(GridColumnCount);
    SetupCalibrationGrid(grid);
    double fillMs = 0, collectMs = 0;
    for (auto _ : State) {
        const auto start = std::chrono::steady_clock::now();
        ClearGrid(grid);
        FillGrid(grid, list);
        fillMs += MsSince(start);
        const auto filled = std::chrono::steady_clock::now();
        const TCalibrationList back = CollectGridCalibrations(grid);
        collectMs += MsSince(filled);
        if (back.Count() != count || back[count - 1].Id != count - 1)
            State.SkipWithError("the table did not give the map back");
        benchmark::DoNotOptimize(back.Items.data());
    }
    State.counters["fill_ms"] = benchmark::Counter(fillMs, benchmark::Counter::kAvgIterations);
    State.counters["collect_ms"] =
        benchmark::Counter(collectMs, benchmark::Counter::kAvgIterations);
}

// Load VLM as the user runs it: the button clicked, the dialog answered with the map at once,
// the file read, the table filled, then the events handled and the table painted. A fresh
// window each time, so that every load starts from an empty table as after start-up.
void BM_LoadVlm(benchmark::State& State) {
    const int count = int(State.range(0));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("map.vlm"));
    WriteMapFile(path, Map(count));
    SetAppFolder(folder.path() + QLatin1Char('/')); // any settings file goes there
    SetFileDialogHandler([&path](TFileDialog& Dialog) {
        Dialog.FileName = path;
        return true;
    });
    for (auto _ : State) {
        State.PauseTiming();
        {
            TFMain w;
            w.show();
            QCoreApplication::processEvents();
            State.ResumeTiming();
            w.Button3->click();
            QCoreApplication::processEvents();
            w.StringGrid1View->viewport()->repaint();
            State.PauseTiming();
            if (w.StringGrid1->RowCount() != count + 2)
                State.SkipWithError("the table does not hold the map");
        }
        State.ResumeTiming();
    }
    SetFileDialogHandler({});
    SetAppFolder(QString());
}

void Sizes(benchmark::internal::Benchmark* B) {
    for (int n : BenchSizes)
        B->Arg(n);
    B->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_FillAndCollect)->Apply(Sizes);
BENCHMARK(BM_LoadVlm)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetDecimalSeparator(u',');
    return RunBenchmarks(argc, argv, {{"BM_LoadVlm", 1000}});
}
