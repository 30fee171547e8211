#include "desktop/qt_prompts.h"

#include <QApplication>
#include <QGridLayout>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QSpacerItem>
#include <QTranslator>

namespace korvela {

void installChineseTranslations(QApplication& app)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* name : {"qtbase_zh_CN", "qt_zh_CN"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(QString::fromLatin1(name), folder))
            QApplication::installTranslator(translator);
        else
            delete translator;
    }
}

PromptAnswer QtPrompts::show(const Prompt& prompt)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(prompt.title);
    box.setText(prompt.text);
    box.setTextFormat(Qt::PlainText);
    switch (prompt.icon) {
    case PromptIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case PromptIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case PromptIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case PromptIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    if (prompt.buttons == PromptButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(prompt.defaultAnswer == PromptAnswer::No ? QMessageBox::No : QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    // A short message would give a box too narrow for its title bar to show "KORVELA".
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int titleWidth = box.fontMetrics().horizontalAdvance(prompt.title) + 160;
        grid->addItem(new QSpacerItem(std::max(titleWidth, 260), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return PromptAnswer::Yes;
    case QMessageBox::No:
        return PromptAnswer::No;
    default:
        return prompt.buttons == PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Ok;
    }
}

} // namespace korvela
