#include "app/startup.h"

#include "core/logging.h"

namespace korvela {

StartOutcome startUp(SystemServices& system, Prompts& prompts, const std::function<Status()>& openDatabase,
                     const std::function<Status()>& loadAndShowWindow)
{
    if (!system.acquireSingleInstance()) {
        qCWarning(lcStart) << "refused: another copy of the program runs from this program folder";
        prompts.message(QStringLiteral("系统已经运行！"), PromptIcon::None);
        return StartOutcome::AlreadyRunning;
    }
    if (system.screenWidth() < kMinimumScreenWidth) {
        qCWarning(lcStart) << "refused: the screen is" << system.screenWidth() << "pixels wide, narrower than"
                           << kMinimumScreenWidth;
        prompts.message(QStringLiteral("你好，尊敬的用户！\n"
                                       "为使本系统以最佳的效果显示，屏幕分辩率不要低于1024*768！\n"
                                       "请重新调整！"),
                        PromptIcon::Information);
        return StartOutcome::ScreenTooNarrow;
    }
    Status started = openDatabase();
    if (!started)
        logFailure(lcStart(), QStringLiteral("refused: the report database did not open"), started.failure());
    else if (started = loadAndShowWindow(); !started)
        logFailure(lcStart(), QStringLiteral("refused: the window did not load"), started.failure());
    if (!started) {
        prompts.message(QStringLiteral("数据初使化失败！"), PromptIcon::Error);
        return StartOutcome::InitFailed;
    }
    return StartOutcome::WindowShown;
}

} // namespace korvela
