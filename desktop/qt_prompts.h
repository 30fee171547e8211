#pragma once

#include "core/prompts.h"

class QApplication;
class QWidget;

namespace korvela {

// The programs speak Simplified Chinese whatever the machine's language: Qt's own texts (the
// message boxes' and standard dialogs' buttons) are loaded in Chinese.
void installChineseTranslations(QApplication& app);

// Modal QMessageBox for every prompt; the buttons read in Chinese once Qt's translation is loaded.
class QtPrompts final : public Prompts
{
public:
    explicit QtPrompts(QWidget* parent = nullptr)
        : m_parent(parent)
    {}
    void setParent(QWidget* parent) { m_parent = parent; }
    PromptAnswer show(const Prompt& prompt) override;

private:
    QWidget* m_parent;
};

} // namespace korvela
