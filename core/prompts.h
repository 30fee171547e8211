#pragma once

#include <QString>

namespace korvela {

enum class PromptIcon { None, Information, Question, Error };
enum class PromptButtons { Ok, YesNo };
enum class PromptAnswer { Ok, Yes, No };

struct Prompt
{
    QString text;
    QString title;
    PromptButtons buttons = PromptButtons::Ok;
    PromptIcon icon = PromptIcon::None;
    PromptAnswer defaultAnswer = PromptAnswer::Ok;
};

// Every modal message box of the program goes through here, so tests can answer them.
class Prompts
{
public:
    virtual ~Prompts() = default;
    virtual PromptAnswer show(const Prompt& prompt) = 0;

    // The program's own title on every box but the failure messages.
    static QString title() { return QStringLiteral("KORVELA"); }

    void message(const QString& text, PromptIcon icon, const QString& caption = title())
    {
        show({text, caption, PromptButtons::Ok, icon, PromptAnswer::Ok});
    }
    // Yes and No, Yes the default.
    bool ask(const QString& text, PromptIcon icon = PromptIcon::Question)
    {
        return show({text, title(), PromptButtons::YesNo, icon, PromptAnswer::Yes}) == PromptAnswer::Yes;
    }
};

} // namespace korvela
