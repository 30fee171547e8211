#pragma once

#include "core/status.h"
#include "core/prompts.h"
#include "core/system_services.h"

#include <functional>

namespace korvela {

enum class StartOutcome { AlreadyRunning, ScreenTooNarrow, InitFailed, WindowShown };

// The narrowest screen the main window is laid out for.
constexpr int kMinimumScreenWidth = 1024;

// The start routine: refuses a second copy, then a narrow screen, then opens the database and
// loads and shows the main window. Any failure in the last two steps is reported with one fixed
// message. When the window is shown the caller runs the event loop; otherwise the program ends.
StartOutcome startUp(SystemServices& system, Prompts& prompts, const std::function<Status()>& openDatabase,
                     const std::function<Status()>& loadAndShowWindow);

} // namespace korvela
