// GoogleTest entry for test programs that open real windows (offscreen under CTest).
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QApplication App(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
