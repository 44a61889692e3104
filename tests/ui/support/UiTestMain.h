#pragma once

// Every window test file is a Qt Test class that ends, as Qt Test files do,
// in QTEST_MAIN(Class) (or QTEST_GUILESS_MAIN, QTEST_APPLESS_MAIN). All of
// them are linked into one executable, velquint_ui_tests, so that Qt is
// linked and its headers compiled once; this header is part of every file
// there (the build puts it first), and turns each file's main() into an
// entry that velquint_ui_tests runs by the file's name:
//
//   velquint_ui_tests device_list_test [Qt Test options]
//
// ctest runs each file so, in a process of its own, as before.

#include <QApplication>
#include <QtTest>

namespace uitest {

using Entry = int (*)(int argc, char** argv);

// Files the entry under the name of `file` without folder and extension.
bool Register(const char* file, Entry entry);

}  // namespace uitest

// The body is Qt's own QTEST_MAIN_WRAPPER, under a name of its own.
#undef QTEST_MAIN_WRAPPER
#define QTEST_MAIN_WRAPPER(TestObject, ...)                                \
    static int RunUiTest_##TestObject(int argc, char* argv[]) {            \
        QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>(); \
        __VA_ARGS__                                                        \
        TestObject tc;                                                     \
        QTEST_SET_MAIN_SOURCE_PATH                                         \
        return QTest::qExec(&tc, argc, argv);                              \
    }                                                                      \
    [[maybe_unused]] static const bool kUiTestRegistered_##TestObject =    \
        uitest::Register(__FILE__, RunUiTest_##TestObject);
