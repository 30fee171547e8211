#pragma once

#include "core/prompts.h"

class QWidget;

namespace korvela {

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
