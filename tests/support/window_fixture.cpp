#include "support/window_fixture.h"

#include <gtest/gtest.h>

namespace korvela::test {

WindowFixture::WindowFixture()
    : system(folder.path())
{
    const Status opened = database.open(folder.databaseFile(), std::chrono::seconds(5));
    EXPECT_TRUE(opened.ok()) << (opened ? "" : opened.failure().description.toStdString());
    m_form = std::make_unique<Form1>(Form1::Services{database, prompts, system, {}});
    const Status loaded = m_form->Form_Load();
    EXPECT_TRUE(loaded.ok());
    m_form->show();
}

WindowFixture::~WindowFixture() = default;

} // namespace korvela::test
