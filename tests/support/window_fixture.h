#pragma once

#include "app/report_window.h"
#include "support/fakes.h"
#include "support/temp_database.h"
#include "support/test_store.h"
#include "support/window_driver.h"

#include <memory>

namespace korvela::test {

// The real main window, loaded, on a real database in a temporary program folder, with prompts
// and system services that tests answer and inspect.
class WindowFixture : public WindowDriver
{
public:
    // `wordProcessor` may be empty: the window then has none.
    // `serverDatabase`: a second workstation on that server database.
    explicit WindowFixture(WordProcessorFactory wordProcessor = {}, StoreKind kind = StoreKind::Sqlite,
                           const QString& serverDatabase = {});
    ~WindowFixture();


    TestStore store;
    const TempProgramFolder& folder = store.folder();
    ReportDatabase& database = store.db();
    FakeSystem system;
    FakePrompts prompts;

private:
    std::unique_ptr<ReportWindow> m_form;
};

} // namespace korvela::test
