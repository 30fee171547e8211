#pragma once

#include "support/fakes.h"
#include "app/form1.h"
#include "store/sqlite_database.h"
#include "support/temp_database.h"

#include <memory>

namespace korvela::test {

// The real main window, loaded, on a real database in a temporary program folder, with prompts
// and system services that tests answer and inspect.
class WindowFixture
{
public:
    WindowFixture();
    ~WindowFixture();

    Form1& form() { return *m_form; }
    Form1* operator->() { return m_form.get(); }

    TempProgramFolder folder;
    FakeSystem system;
    FakePrompts prompts;
    SqliteReportDatabase database;

private:
    std::unique_ptr<Form1> m_form;
};

} // namespace korvela::test
