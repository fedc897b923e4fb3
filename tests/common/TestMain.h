#pragma once
// main() for tests that play audio: as QTEST_MAIN and QTEST_GUILESS_MAIN, but the process ends
// through speech::exitAfterTeardown, past the exit-time teardown of Qt's PulseAudio objects that
// can abort a process which has just closed a stream.

#include "ProcessExit.h"

#include <QCoreApplication>
#include <QTest>

#include <type_traits>

namespace testmain {

template <typename Application, typename TestObject> [[noreturn]] void run(int argc, char **argv) {
    int status = 0;
    {
        Application app(argc, argv);
        if constexpr (!std::is_same_v<Application, QCoreApplication>)
            app.setAttribute(Qt::AA_Use96Dpi, true); // as QTEST_MAIN does
        TestObject test;
        status = QTest::qExec(&test, argc, argv);
    }
    speech::exitAfterTeardown(status);
}

} // namespace testmain

// Like QTEST_MAIN, a QApplication where the test links Qt Widgets, else a QGuiApplication.
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#define PARLIVO_TEST_APPLICATION QApplication
#else
#include <QGuiApplication>
#define PARLIVO_TEST_APPLICATION QGuiApplication
#endif

#define PARLIVO_TEST_MAIN(TestObject)                                                              \
    int main(int argc, char **argv) {                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        testmain::run<PARLIVO_TEST_APPLICATION, TestObject>(argc, argv);                           \
    }

#define PARLIVO_TEST_GUILESS_MAIN(TestObject)                                                      \
    int main(int argc, char **argv) {                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        testmain::run<QCoreApplication, TestObject>(argc, argv);                                   \
    }
