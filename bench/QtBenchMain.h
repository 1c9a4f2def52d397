#pragma once
// The main of a benchmark that needs a Qt application (widgets, the event
// loop; a QGuiApplication where documents alone are measured): offscreen
// unless a platform is named, then Google Benchmark.
#include <QApplication>

#include <benchmark/benchmark.h>

namespace velmora::bench {

template <class Application = QApplication>
int RunWithQt(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace velmora::bench
