#include <QApplication>

#include <gtest/gtest.h>

// Every test binary gets a QApplication, so widget tests can make the real window offscreen.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
