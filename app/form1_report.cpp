#include "form1.h"

namespace korvela {

void Form1::connectReportHandlers() {}

void Form1::documentBeforeClose(bool& cancel)
{
    app1_DocumentBeforeClose(cancel);
}

void Form1::documentBeforeSave(bool, bool& cancel)
{
    app1_DocumentBeforeSave(cancel);
}

void Form1::app1_DocumentBeforeClose(bool& cancel)
{
    cancel = false;
    if (m_app1) {
        (void)m_app1->closeDocument();
        (void)m_app1->setVisible(false);
    }
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
}

// Saves started in the word processor are refused unless the export itself is saving.
void Form1::app1_DocumentBeforeSave(bool& cancel)
{
    cancel = m_saveLockFlag == u"4";
}

} // namespace korvela
