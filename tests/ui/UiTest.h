#pragma once
// The window's test classes of one program register here and run in one
// application, one after the other (each class its own QtTest run).
#include <QtTest>

#include <functional>
#include <vector>

std::vector<std::function<int(int, char**)>>& UiTestClasses();

#define ORVALE_UI_TEST(Class)                                                                                        \
    static const bool Class##Registered = (UiTestClasses().push_back([](int argc, char** argv) {                    \
                                               Class test;                                                          \
                                               return QTest::qExec(&test, argc, argv);                              \
                                           }),                                                                      \
                                           true)
