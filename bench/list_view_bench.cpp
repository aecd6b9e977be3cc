// Filling the catalogue's list with 10 000 items in directory order (not alphabetical), sorted by
// caption as it goes, against the usual Qt set-up: a QStandardItemModel behind a
// QSortFilterProxyModel with locale-aware dynamic sorting. Both feed a real icon view.
#include "catalogue/image_list.h"
#include "catalogue/list_view.h"

#include <QApplication>
#include <QListView>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

QStringList captions(int n) {
    QStringList names;
    names.reserve(n);
    // A stride coprime to n gives every number once, far from sorted.
    for (int k = 0; k < n; ++k) names.append(QStringLiteral("Photo %1.bmp").arg((k * 7919) % n));
    return names;
}

void BM_ListView_AppendSorted(benchmark::State& state) {
    const QStringList names = captions(int(state.range(0)));
    for (auto _ : state) {
        pixmoor::ListView list;
        for (int k = 0; k < names.size(); ++k) list.append(names[k], k);
        benchmark::DoNotOptimize(list.count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ListView_AppendUnsorted(benchmark::State& state) {
    const QStringList names = captions(int(state.range(0)));
    for (auto _ : state) {
        pixmoor::ListView list;
        list.setSorted(false);
        for (int k = 0; k < names.size(); ++k) list.append(names[k], k);
        benchmark::DoNotOptimize(list.count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Peer_StandardModelSortProxy(benchmark::State& state) {
    const QStringList names = captions(int(state.range(0)));
    for (auto _ : state) {
        QStandardItemModel model(0, 3);
        QSortFilterProxyModel proxy;
        proxy.setSortLocaleAware(true);
        proxy.setDynamicSortFilter(true);
        proxy.setSourceModel(&model);
        proxy.sort(0);
        QListView view;
        view.setViewMode(QListView::IconMode);
        view.setUniformItemSizes(true);
        view.setModel(&proxy);
        for (const QString& name : names) model.appendRow(new QStandardItem(name));
        benchmark::DoNotOptimize(proxy.rowCount());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ListView_SwitchSortOn(benchmark::State& state) {
    const QStringList names = captions(int(state.range(0)));
    pixmoor::ListView list;
    list.setSorted(false);
    for (int k = 0; k < names.size(); ++k) list.append(names[k], k);
    for (auto _ : state) {
        list.setSorted(true);
        list.setSorted(false);
    }
}

} // namespace

BENCHMARK(BM_ListView_AppendSorted)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListView_AppendUnsorted)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Peer_StandardModelSortProxy)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListView_SwitchSortOn)->Arg(10000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
