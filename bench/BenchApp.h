// The main of a benchmark program that needs a QApplication: Qt's offscreen platform unless
// another one is set, Google Benchmark's own arguments, and `prepare` run once the
// application exists and before the first benchmark (for fixtures that need it).
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QtGlobal>

#include <functional>

namespace cantorell::bench {

inline int RunWithApplication(int argc, char** argv, const std::function<void()>& prepare = {}) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (prepare)
        prepare();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace cantorell::bench
