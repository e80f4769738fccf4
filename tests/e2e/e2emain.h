#pragma once

// main() of an end-to-end test: re-run inside a fresh test LAN (one server
// namespace, or `servers`), move into its client namespace, then run the test object.

#include "netlan.h"

#include <QTest>

#include <cstdio>

#define PELLUM_E2E_MAIN(TestObject, AppClass) PELLUM_E2E_MAIN_LAN(TestObject, AppClass, 1)
#define PELLUM_E2E_MAIN_LAN(TestObject, AppClass, servers)                             \
    int main(int argc, char** argv)                                                    \
    {                                                                                  \
        const int early = NetLan::reexecInside(argc, argv, servers);                   \
        if (early >= 0)                                                                \
            return early;                                                              \
        const NetLan::Lan lan = NetLan::fromEnvironment();                             \
        if (!NetLan::enter(lan.clientNs))                                              \
            return std::fprintf(stderr, "cannot enter %s\n", qPrintable(lan.clientNs)), 1; \
        if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))                      \
            qputenv("QTEST_FUNCTION_TIMEOUT", "1500000"); /* the soak runs long */     \
        AppClass app(argc, argv);                                                      \
        TestObject test(lan);                                                          \
        return QTest::qExec(&test, argc, argv);                                        \
    }
