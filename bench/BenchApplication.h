#pragma once

#include <QApplication>

namespace vardel::bench {

// Windows, fonts and painters need an application object; the benchmark
// main does not make one.
inline void ensureApplication()
{
    if (QApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "vardel_bench";
    static char* argv[] = {name, nullptr};
    // Lives until the end of the run, so Qt tidies up its caches at exit.
    static QApplication app(argc, argv);
}

} // namespace vardel::bench
