// Loading and saving the options store's text form against QSettings in IniFormat, on the
// same file: sections of eight values (integers, Booleans, texts), one section per ten
// lines. Run with the line count as the argument; 50,000 and 500,000 lines show how the
// time grows. A key holding all values at once shows that lookups do not grow with the
// key's size. Each benchmark times the load or the save alone; freeing the tree afterwards
// is left out for both readers.
#include "settings/ElIni.h"
#include "tests/testsupport/TestFiles.h"

#include <QSettings>
#include <QString>
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

using namespace cantorell;

namespace {

struct TValue {
    std::string Section, Name, Text;
};

// The values of a file of about `lines` lines in the store's written form.
std::vector<TValue> MakeValues(int64_t lines) {
    std::vector<TValue> values;
    const int64_t sections = lines / 10;
    for (int64_t s = 0; s < sections; ++s) {
        const std::string section = "Section" + std::to_string(s);
        for (int v = 0; v < 8; ++v) {
            std::string text;
            switch (v % 3) {
            case 0:
                text = std::to_string(s * 31 + v);
                break;
            case 1:
                text = (s + v) % 2 ? "true" : "false";
                break;
            default:
                text = "A setting's text value number " + std::to_string(s);
                break;
            }
            values.push_back({section, "Value" + std::to_string(v), text});
        }
    }
    return values;
}

void Fill(TElIniFile& store, const std::vector<TValue>& values) {
    for (const TValue& value : values)
        store.WriteString("\\" + value.Section, value.Name, value.Text);
}

// A folder with the options file of `lines` lines written by the store.
struct TFixture {
    explicit TFixture(int64_t lines) : Values(MakeValues(lines)), Path(Dir.File("options.ini")) {
        TElIniFile store;
        store.SetPath(Path);
        Fill(store, Values);
        store.Save();
    }
    test::TTempDir Dir;
    std::vector<TValue> Values;
    std::string Path;
};

void BM_ElIniLoad(benchmark::State& state) {
    TFixture fixture(state.range(0));
    for (auto _ : state) {
        auto store = std::make_unique<TElIniFile>();
        store->SetPath(fixture.Path);
        store->Load();
        benchmark::DoNotOptimize(store->Root().ChildCount());
        // Freeing the tree is not part of loading it (for neither reader).
        state.PauseTiming();
        store->SetLazyWrite(false); // nothing to write at the end
        store.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_QSettingsLoad(benchmark::State& state) {
    TFixture fixture(state.range(0));
    const QString path = QString::fromStdString(fixture.Path);
    for (auto _ : state) {
        auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
        // QSettings parses section bodies on demand; listing every key parses them all.
        benchmark::DoNotOptimize(settings->allKeys().size());
        state.PauseTiming();
        settings.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ElIniSave(benchmark::State& state) {
    TFixture fixture(state.range(0));
    TElIniFile store;
    store.SetPath(fixture.Dir.File("saved.ini"));
    Fill(store, fixture.Values);
    for (auto _ : state)
        store.Save();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_QSettingsSave(benchmark::State& state) {
    TFixture fixture(state.range(0));
    const QString path = QString::fromStdString(fixture.Dir.File("saved.ini"));
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(path.toStdString());
        auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
        for (const TValue& value : fixture.Values)
            settings->setValue(QString::fromStdString(value.Section + "/" + value.Name),
                               QString::fromStdString(value.Text));
        state.ResumeTiming();
        settings->sync();
        state.PauseTiming();
        settings.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// One key holding every value: finding each name must not scan the ones before it.
void BM_ElIniLoadOneBigKey(benchmark::State& state) {
    std::string text = "[Big]\r\n";
    for (int64_t i = 0; i < state.range(0); ++i)
        text += "value" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    for (auto _ : state) {
        auto store = std::make_unique<TElIniFile>();
        store->LoadFromBytes(text, "big.ini");
        benchmark::DoNotOptimize(store->Root().ChildCount());
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BM_ElIniLoad)->Arg(50000)->Arg(500000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QSettingsLoad)->Arg(50000)->Arg(500000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ElIniSave)->Arg(50000)->Arg(500000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QSettingsSave)->Arg(50000)->Arg(500000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ElIniLoadOneBigKey)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
