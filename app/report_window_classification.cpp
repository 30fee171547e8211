#include "classification/classification_text.h"
#include "app/report_window.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace korvela {

namespace {

// The caption of the first chosen button of a group, from index 0 upward; empty when none is.
template <std::size_t N> QString choiceOf(const std::array<QRadioButton*, N>& group)
{
    for (const QRadioButton* button : group) {
        if (button->isChecked())
            return button->text();
    }
    return {};
}

// An exclusive group refuses to uncheck its checked button; the group's rule is lifted for the
// moment of clearing.
template <std::size_t N> void clearGroup(const std::array<QRadioButton*, N>& group)
{
    for (QRadioButton* button : group) {
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
}

} // namespace

void ReportWindow::connectClassificationHandlers()
{
    connect(Command2, &QPushButton::clicked, this, &ReportWindow::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, &ReportWindow::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &ReportWindow::Command6_Click);
}

void ReportWindow::Command2_Click()
{
    clearGroup(Option1);
    clearGroup(Option2);
    clearGroup(Option3);
    clearGroup(Option4);
    Picture1->setEnabled(false);
    Picture2->setEnabled(false);
    // A quarter of the window's outer width and height, title bar and borders included.
    const QRect outer = frameGeometry();
    Picture3->move(outer.width() / 4, outer.height() / 4);
    Picture3->raise();
    Picture3->show();
}

// The column headed 右侧 holds Option1 and Option3, the column headed 左侧 Option2 and Option4, so
// each choice is written under the side the user chose it under.
void ReportWindow::Command5_Click()
{
    a6->setText(ComposeClassificationText(choiceOf(Option2), choiceOf(Option1), choiceOf(Option4),
                                          choiceOf(Option3)));
    Command6_Click(); // closes the panel as cancelling does
}

void ReportWindow::Command6_Click()
{
    Picture3->hide();
    Picture1->setEnabled(true);
    Picture2->setEnabled(true);
}

} // namespace korvela
