#pragma once

#include <QPointer>
#include <QWidget>

namespace korvela {

// The hourglass over a window for as long as this lives; the normal pointer at every end.
class WaitCursor
{
public:
    explicit WaitCursor(QWidget* window)
        : m_window(window)
    {
        m_window->setCursor(Qt::WaitCursor);
    }
    ~WaitCursor()
    {
        if (m_window)
            m_window->unsetCursor();
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    QPointer<QWidget> m_window;
};

// A button that must not run twice stays disabled for as long as this lives.
class DisabledWhileBusy
{
public:
    explicit DisabledWhileBusy(QWidget* button)
        : m_button(button)
    {
        m_button->setEnabled(false);
    }
    ~DisabledWhileBusy()
    {
        if (m_button)
            m_button->setEnabled(true);
    }
    DisabledWhileBusy(const DisabledWhileBusy&) = delete;
    DisabledWhileBusy& operator=(const DisabledWhileBusy&) = delete;

private:
    QPointer<QWidget> m_button;
};

} // namespace korvela
