#include "UiTest.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failed = 0;
    for (const auto& run : UiTestClasses()) failed += run(argc, argv) != 0;
    return failed;
}
