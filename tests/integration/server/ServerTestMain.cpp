#include <QCoreApplication>
#include <gtest/gtest.h>

// The service tests need an event loop but no widgets: a core application keeps them independent of
// the interface libraries and quick to link.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
