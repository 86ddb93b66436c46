// Entry point of the window and shell test programs: a QApplication on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    // The system's locale stays the default, so the suite sees what a user of any locale sees;
    // tests that depend on one set it themselves.
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
