#include <QApplication>

#include <gtest/gtest.h>

// Every test binary gets a QApplication, so widget tests can make the real window offscreen.
// The machine's own report-server service never reaches a test: a test that wants a server names
// its service file itself.
int main(int argc, char** argv)
{
    qputenv("PGSERVICEFILE", "/nonexistent/korvela-tests/pg_service.conf");
    qputenv("PGSYSCONFDIR", "/nonexistent/korvela-tests");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
