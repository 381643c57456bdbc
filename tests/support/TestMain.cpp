#include <QApplication>
#include <gtest/gtest.h>

// The tests need a running QApplication before the first test: coroutines, timers and widgets all
// expect one. The offscreen platform keeps the suite independent of a display.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The codec module of this build, for the code under test and the programs the tests start.
    qputenv("MELLO_PARLO_CODEC_MODULE", PARLO_CODEC_MODULE_PATH);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
