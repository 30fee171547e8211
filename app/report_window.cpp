#include "app/report_window.h"

#include "app/date_picker.h"
#include "core/failure_codes.h"
#include "records/report_record.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace korvela {

namespace {
const QString kCreditLine = QStringLiteral("Korvela 报告系统\n开发组技术支持\n"
                                           "support@korvela.example\n版权所有，侵权必究");
const QString kWebPage = QStringLiteral("https://korvela.example/");
} // namespace

ReportWindow::ReportWindow(Services services, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services))
    , m_saveResults(m_services.database.createResultSet(QStringLiteral("A")))
    , m_searchResults(m_services.database.createResultSet(QStringLiteral("A")))
{
    buildLayout();
    connectRecordHandlers();
    connectSearchHandlers();
    connectClassificationHandlers();
    connectReportHandlers();
    // Esc closes the window wherever the focus is: the window sees its controls' keys first.
    qApp->installEventFilter(this);
}

ReportWindow::~ReportWindow()
{
    qApp->removeEventFilter(this);
    releaseResources();
}

Status ReportWindow::load()
{
    Label3[0]->setText(kCreditLine);
    a1->clear();
    a2->setEditText({});
    for (QLineEdit* field : {a3, a4, a5, a6})
        field->clear();
    for (QComboBox* field : {a7, a8, a9, a10})
        field->setEditText({});
    a11->clear();
    a12->clear();
    a13->setValue(QDate::currentDate());
    a14->clear();
    for (int n = 1; n <= 100; ++n)
        a2->addItem(QString::number(n));
    for (int j = 0; j <= 6; ++j)
        for (QComboBox* grade : {a7, a8, a9, a10})
            grade->addItem(QString::number(j));
    // Adding the first item to an editable list puts it in the text; the fields start empty.
    for (QComboBox* field : {a2, a7, a8, a9, a10})
        field->setEditText({});
    for (QCheckBox* option : Check2)
        option->setChecked(false);

    if (m_services.wordProcessor) {
        m_app1 = m_services.wordProcessor();
        if (!m_app1)
            return Failure{FailureCode::WordProcessorNotMade, QStringLiteral("无法创建文字处理程序。")};
        if (Status started = m_app1->start(this); !started)
            return started;
        if (Status options = m_app1->switchOffOptions(); !options)
            return options;
    }

    m_saveLock = SaveLock::Locked;

    const QString docFolder = m_services.system.programFolder() + u"/doc";
    if (!m_services.system.folderExists(docFolder) && !m_services.system.makeFolder(docFolder))
        return Failure{FailureCode::DocFolderNotMade, QStringLiteral("无法建立 doc 文件夹。")};
    return {};
}

bool ReportWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        if (widget && widget->window() == this && key->key() == Qt::Key_Escape) {
            Form_KeyPress(27);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ReportWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        Form_KeyPress(27);
        return;
    }
    QWidget::keyPressEvent(event);
}

void ReportWindow::Form_KeyPress(int keyAscii)
{
    if (keyAscii != 27)
        return;
    if (m_services.prompts.ask(QStringLiteral("是否退出病人信息模块？"), PromptIcon::None))
        close();
}

void ReportWindow::cmdclose_Click()
{
    setCursor(Qt::WaitCursor);
    close();
}

void ReportWindow::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

// Every step runs whatever became of the ones before it, so the program always ends.
void ReportWindow::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    releaseResources();
    m_services.system.openUrl(kWebPage);
    m_services.system.endProgram(0);
}

void ReportWindow::releaseResources()
{
    if (m_app1) {
        if (m_app1->hasOpenDocument())
            (void)m_app1->closeDocument();
        (void)m_app1->quit();
        m_app1.reset();
    }
    if (m_saveResults->isOpen())
        m_saveResults->close();
    if (m_searchResults->isOpen())
        m_searchResults->close();
    if (m_services.database.isOpen())
        m_services.database.close();
}

} // namespace korvela
