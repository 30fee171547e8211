#include "support/window_fixture.h"

#include <QFile>

#include <gtest/gtest.h>

namespace korvela::test {

WindowFixture::WindowFixture(WordProcessorFactory wordProcessor, StoreKind kind, const QString& serverDatabase)
    : store(kind, serverDatabase)
    , system(folder.path())
{
    // The page about the program, as setup lays it out beside the program.
    QFile about(folder.path() + u"/about.html");
    EXPECT_TRUE(about.open(QIODevice::WriteOnly));
    m_form = std::make_unique<ReportWindow>(ReportWindow::Services{database, prompts, system, std::move(wordProcessor)});
    setWindow(m_form.get());
    const Status loaded = m_form->load();
    EXPECT_TRUE(loaded.ok()) << (loaded ? "" : loaded.failure().description.toStdString());
    m_form->show();
}

WindowFixture::~WindowFixture() = default;

} // namespace korvela::test
