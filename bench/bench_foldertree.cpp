// What the folder tree costs where a user waits: building it at start (on this machine's
// real desktop, home and mount table, and on a small desktop of a fixed shape), opening a
// folder of 5,000 subfolders, and refreshing that folder after a notice when nothing in it
// changed. Reading a folder's subfolders through the shell layer is set against QDir doing
// the same, and opening the folder against Qt's QFileSystemModel, the usual ways in Qt.
//
// The folders are made once per run under the system's temporary folder. The tree runs on
// Qt's offscreen platform unless another one is set.
#include "bench/BenchApp.h"
#include "browse/FolderTree.h"
#include "platform/Shell.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QEventLoop>
#include <QFileSystemModel>
#include <QTemporaryDir>
#include <QTreeView>

#include <memory>
#include <string>

using namespace cantorell;

namespace {

constexpr int BigFolderCount = 5000;

// A desktop of a fixed shape: 20 folders on the desktop, a home folder holding a folder of
// 5,000 subfolders, and one volume.
class TBenchShell : public TShell {
public:
    TBenchShell() {
        Root = Temp.path().toStdString();
        QDir root(Temp.path());
        for (int i = 0; i < 20; ++i)
            root.mkpath(QStringLiteral("Desktop/Project %1").arg(i));
        for (int i = 0; i < BigFolderCount; ++i)
            root.mkpath(QStringLiteral("home/big/Album %1").arg(BigFolderCount - i));
        root.mkpath(QStringLiteral("volume"));
    }
    std::string DesktopPath() const override { return Root + "/Desktop"; }
    std::string HomePath() const override { return Root + "/home"; }
    std::string TrashPath() const override { return Root + "/home/.local/share/Trash/files"; }
    std::vector<TVolume> Volumes() const override {
        return {{Root + "/volume", QStringLiteral("File System"), false}};
    }
    std::string Big() const { return Root + "/home/big"; }

private:
    QTemporaryDir Temp;
    std::string Root;
};

TBenchShell& BenchShell() {
    static TBenchShell shell;
    return shell;
}

// Activating the tree builds its top level from the shell's desktop, home and mounts.
void BuildTree(benchmark::State& state, TShell& shell) {
    TFolderTree tree(nullptr, shell);
    for (auto _ : state) {
        tree.SetActive(true);
        benchmark::DoNotOptimize(tree.topLevelItem(0));
        state.PauseTiming();
        tree.SetActive(false);
        state.ResumeTiming();
    }
}

void BM_BuildTree_ThisMachine(benchmark::State& state) {
    BuildTree(state, TShell::Default());
}
BENCHMARK(BM_BuildTree_ThisMachine)->Unit(benchmark::kMillisecond);

void BM_BuildTree_TwentyDesktopFolders(benchmark::State& state) {
    BuildTree(state, BenchShell());
}
BENCHMARK(BM_BuildTree_TwentyDesktopFolders)->Unit(benchmark::kMillisecond);

// From the click on the button to 5,000 sorted nodes in the tree (painting is suppressed
// while filling and not measured: the view paints only the rows on screen afterwards).
void BM_ExpandFolderOf5000(benchmark::State& state) {
    TFolderTree tree(nullptr, BenchShell());
    for (auto _ : state) {
        state.PauseTiming();
        tree.SetActive(true);
        QTreeWidgetItem* big =
            tree.FindNodeByPath(BenchShell().Big(), TFolderTree::TFindMode::fmExpand);
        // Finding the folder read its parent but not the folder itself.
        state.ResumeTiming();
        tree.expandItem(big);
        state.PauseTiming();
        if (big->childCount() != BigFolderCount)
            state.SkipWithError("the folder was not filled");
        tree.SetActive(false);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ExpandFolderOf5000)->Unit(benchmark::kMillisecond);

// The same folder opened in Qt's own QFileSystemModel behind a QTreeView, for scale: the
// model reads in a worker thread and reports the folder loaded with directoryLoaded.
void BM_ExpandFolderOf5000_QFileSystemModel(benchmark::State& state) {
    const QString big = QString::fromStdString(BenchShell().Big());
    for (auto _ : state) {
        state.PauseTiming();
        QFileSystemModel model;
        model.setFilter(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
        QTreeView view;
        view.setUniformRowHeights(true);
        view.setModel(&model);
        QEventLoop loop;
        QObject::connect(&model, &QFileSystemModel::directoryLoaded, &loop,
                         [&](const QString& path) {
                             if (path == big)
                                 loop.quit();
                         });
        state.ResumeTiming();
        view.setRootIndex(model.setRootPath(big));
        loop.exec();
        while (model.canFetchMore(model.index(big)))
            model.fetchMore(model.index(big));
        benchmark::DoNotOptimize(model.rowCount(model.index(big)));
        state.PauseTiming();
        if (model.rowCount(model.index(big)) != BigFolderCount)
            state.SkipWithError("the model did not load the folder");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ExpandFolderOf5000_QFileSystemModel)->Unit(benchmark::kMillisecond);

// A notice for the folder (a file saved in it, say) when its subfolders stayed the same.
void BM_RefreshUnchangedFolderOf5000(benchmark::State& state) {
    TFolderTree tree(nullptr, BenchShell());
    tree.SetActive(true);
    QTreeWidgetItem* big =
        tree.FindNodeByPath(BenchShell().Big(), TFolderTree::TFindMode::fmExpand);
    tree.expandItem(big);
    for (auto _ : state)
        tree.RefreshNode(big);
    if (big->childCount() != BigFolderCount)
        state.SkipWithError("the refresh lost folders");
}
BENCHMARK(BM_RefreshUnchangedFolderOf5000)->Unit(benchmark::kMillisecond);

void BM_ListFolders_Shell(benchmark::State& state) {
    std::vector<std::string> names;
    for (auto _ : state) {
        TShell::Default().ListFolders(BenchShell().Big(), names);
        benchmark::DoNotOptimize(names.data());
    }
    state.counters["folders"] = static_cast<double>(names.size());
}
BENCHMARK(BM_ListFolders_Shell)->Unit(benchmark::kMillisecond);

void BM_ListFolders_QDir(benchmark::State& state) {
    QStringList names;
    const QString big = QString::fromStdString(BenchShell().Big());
    for (auto _ : state) {
        names = QDir(big).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
        benchmark::DoNotOptimize(names.data());
    }
    state.counters["folders"] = static_cast<double>(names.size());
}
BENCHMARK(BM_ListFolders_QDir)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return cantorell::bench::RunWithApplication(argc, argv, [] { BenchShell(); });
}
