// The settings at start and exit: the application options walked through Qt's
// meta-object system against the same sixteen values written and read by hand, a whole
// widget's published properties, and the window's full round trip through "VizErir.ini"
// (start, show, close). The window runs on Qt's offscreen platform.
#include "app/MyOptions.h"
#include "app/main.h"
#include "bench/BenchApp.h"
#include "settings/ElIni.h"
#include "settings/ElPropTools.h"
#include "tests/testsupport/TestFiles.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>

using namespace cantorell;

namespace {

// The application options bound to a store of their own.
struct TBoundOptions {
    TBoundOptions() {
        Options.SetStorage(&Store);
        Options.SetStorageType(TElOptions::eosElIni);
    }
    TElIniFile Store;
    TMyOptions Options;
};

// Times `step` on the sixteen options of a store they were saved to once.
template <class TStep> void ByReflection(benchmark::State& state, TStep step) {
    TBoundOptions bound;
    bound.Options.Save();
    for (auto _ : state)
        step(bound.Options);
    state.SetItemsProcessed(state.iterations() * 16);
}

void BM_OptionsSaveByReflection(benchmark::State& state) {
    ByReflection(state, [](TMyOptions& options) { options.Save(); });
}
BENCHMARK(BM_OptionsSaveByReflection);

void BM_OptionsLoadByReflection(benchmark::State& state) {
    ByReflection(state, [](TMyOptions& options) { options.Load(); });
}
BENCHMARK(BM_OptionsLoadByReflection);

// The peer: the same values with one store call each, no reflection.
void BM_OptionsSaveByHand(benchmark::State& state) {
    TElIniFile store;
    TMyOptions o;
    for (auto _ : state) {
        store.WriteInteger("\\", "AutoSave", o.AutoSave());
        store.WriteString("\\", "DefFont", o.DefFont.toStdString());
        store.WriteString("\\", "DefFontColor", o.DefFontColor.toStdString());
        store.WriteInteger("\\", "DefFontSize", o.DefFontSize);
        store.WriteString("\\", "IniName", o.IniName().toStdString());
        store.WriteString("\\", "IniSection", o.IniSection().toStdString());
        store.WriteString("\\", "LastFile", o.LastFile.toStdString());
        store.WriteInteger("\\", "MinimizeOnClose", o.MinimizeOnClose);
        store.WriteInteger("\\", "MinimizeOnEsc", o.MinimizeOnEsc);
        store.WriteString("\\", "Name", o.objectName().toStdString());
        store.WriteInteger("\\", "ReopenFile", o.ReopenFile);
        store.WriteInteger("\\", "StorageType", o.StorageType());
        store.WriteInteger("\\", "TabPosition", o.TabPosition);
        store.WriteInteger("\\", "Tag", o.Tag());
        store.WriteInteger("\\", "ToTray", o.ToTray);
        store.WriteInteger("\\", "UseTreeFilter", o.UseTreeFilter);
    }
    state.SetItemsProcessed(state.iterations() * 16);
}
BENCHMARK(BM_OptionsSaveByHand);

// A line edit has some sixty published properties, nested objects included.
void BM_WidgetSaveObject(benchmark::State& state) {
    TElIniFile store;
    store.OpenKey("\\Edit", true);
    QLineEdit edit;
    for (auto _ : state)
        SaveObject(&edit, store);
}
BENCHMARK(BM_WidgetSaveObject);

void BM_WidgetLoadObject(benchmark::State& state) {
    TElIniFile store;
    store.OpenKey("\\Edit", true);
    QLineEdit edit;
    SaveObject(&edit, store);
    for (auto _ : state)
        LoadObject(&edit, store);
}
BENCHMARK(BM_WidgetLoadObject);

// Start with an options file, show, close, write the file: what the settings add to a
// run of the program, file system included.
void BM_WindowSettingsRoundTrip(benchmark::State& state) {
    test::TTempDir dir;
    TFormSeam seam;
    const QString folder = QString::fromStdString(dir.Path());
    {
        TFormMain form(&seam, nullptr, folder);
        form.show();
        form.close();
    }
    for (auto _ : state) {
        TFormMain form(&seam, nullptr, folder);
        form.show();
        QApplication::processEvents();
        form.close();
    }
}
BENCHMARK(BM_WindowSettingsRoundTrip)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return cantorell::bench::RunWithApplication(argc, argv);
}
