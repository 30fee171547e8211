#include "review/follow_up.h"
#include "review/review_window.h"
#include "store/store_choice.h"
#include "support/fakes.h"
#include "support/temp_database.h"
#include "support/wait_until.h"
#include "support/window_driver.h"
#include "widgets/date_picker.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <gtest/gtest.h>

using namespace korvela;

namespace {

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

QStringList texts(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* item : items)
        out << QString::fromUtf8(item);
    return out;
}

// The review window on a program folder of its own, its day Wednesday 2024-12-18, driven by its
// controls' names. The reports are stored before it opens: its first tab reads them at once.
class ReviewWindowTest : public ::testing::Test
{
protected:
    void open()
    {
        m_window = std::make_unique<ReviewWindow>(ReviewServices{
            [this] { return openReportStore(folder.path(), std::chrono::seconds(5), StoreAccess::ReadOnly); },
            prompts, files, [] { return QDate(2024, 12, 18); }});
        driver.setWindow(m_window.get());
        m_window->show();
    }
    void close() { m_window.reset(); }

    void openAudit()
    {
        driver.find<QTabWidget>(QStringLiteral("reviewTabs"))
            ->setCurrentWidget(driver.widget(QStringLiteral("auditTab")));
    }
    // A reading has ended when the tab's busy bar has gone.
    void waitForReading(const QString& tab)
    {
        QWidget* progress = driver.widget(tab + u"Progress");
        ASSERT_TRUE(test::waitUntil([progress] { return progress->isHidden(); }));
    }

    // The list as the user sees it: the due date and the name of every row of the table.
    QStringList shownRows() const
    {
        QStringList rows;
        const QAbstractItemModel* model = driver.find<QTableView>(QStringLiteral("followUpTable"))->model();
        for (int r = 0; r < model->rowCount(); ++r)
            rows << model->index(r, int(FollowUpColumn::Due)).data().toString() + u' ' +
                        model->index(r, int(FollowUpColumn::Name)).data().toString();
        return rows;
    }
    // 报告数 of the audit's last row, 合计.
    int reportsInTotal() const
    {
        const QAbstractItemModel* model = driver.find<QTableView>(QStringLiteral("auditTable"))->model();
        return model->index(model->rowCount() - 1, 1).data().toInt();
    }
    std::optional<QDate> auditFrom() const
    {
        return driver.find<DatePicker>(QStringLiteral("auditFrom"))->value();
    }

    test::TempProgramFolder folder;
    test::FakePrompts prompts;
    test::FakeFileChooser files;
    test::WindowDriver driver;

private:
    std::unique_ptr<ReviewWindow> m_window;
};

TEST_F(ReviewWindowTest, ChoosingARangeOrAPhysicianFiltersTheListAndTheStoreIsNeverWritten)
{
    // This week is 12-16 to 12-22, the next 30 days 12-18 to 2025-01-16.
    folder.exec(
        QStringLiteral("INSERT INTO A (A1, A3, A13, A14, A23, A24, A25) VALUES"
                       " ('逾期甲', 'R1', '2024-09-10', '王医生', 1, 0, 0)," // due 12-10
                       " ('本周乙', 'R2', '2024-09-17', '李医生', 1, 0, 0)," // due 12-17: overdue, this week
                       " ('本周丙', 'R3', '2024-06-20', '王医生', 0, 1, 0)," // due 12-20
                       " ('下月丁', 'R4', '2024-01-10', '王医生', 0, 0, 1)," // due 2025-01-10
                       " ('明年戊', 'R5', '2024-12-01', '李医生', 1, 0, 0)," // due 2025-03-01
                       " ('已随诊', 'R6', '2024-09-12', '王医生', 1, 0, 0)," // due 12-12, but back on 11-02
                       " ('已随诊', 'r6 ', '2024-11-02', '王医生', 0, 0, 0)"));
    const QByteArray before = fileHash(folder.databaseFile());
    open();
    waitForReading(QStringLiteral("followUp"));

    EXPECT_EQ(shownRows(), texts({"2024-12-10 逾期甲", "2024-12-17 本周乙"}));
    driver.pick(QStringLiteral("followUpRange"), QStringLiteral("本周"));
    EXPECT_EQ(shownRows(), texts({"2024-12-17 本周乙", "2024-12-20 本周丙"}));
    driver.pick(QStringLiteral("followUpRange"), QStringLiteral("未来30天"));
    EXPECT_EQ(shownRows(), texts({"2024-12-20 本周丙", "2025-01-10 下月丁"}));
    driver.pick(QStringLiteral("followUpPhysician"), QStringLiteral("李医生"));
    EXPECT_TRUE(shownRows().isEmpty());
    driver.pick(QStringLiteral("followUpRange"), QStringLiteral("逾期"));
    EXPECT_EQ(shownRows(), texts({"2024-12-17 本周乙"}));
    driver.pick(QStringLiteral("followUpPhysician"), QStringLiteral("全部医师"));
    EXPECT_EQ(shownRows().size(), 2);
    EXPECT_TRUE(prompts.shown().empty());
    close();
    EXPECT_EQ(fileHash(folder.databaseFile()), before);
}

TEST_F(ReviewWindowTest, ChoosingAPeriodReadsTheFiguresOfThatPeriod)
{
    folder.exec(QStringLiteral(
        "INSERT INTO A (A1, A3, A8, A13, A14) VALUES"
        " ('甲', 'Q1', '4', '2024-12-02', '王医生'), ('乙', 'Q2', '3', '2024-11-20', '王医生'),"
        " ('丙', 'Q3', '0', '2024-10-01', '李医生'), ('丁', 'Q4', '3', '2024-03-01', '李医生')"));
    open();
    openAudit();
    waitForReading(QStringLiteral("audit"));
    EXPECT_EQ(reportsInTotal(), 4); // the year, at the tab's opening
    driver.pick(QStringLiteral("auditPeriodKind"), QStringLiteral("按季度"));
    waitForReading(QStringLiteral("audit"));
    EXPECT_EQ(reportsInTotal(), 3);
    EXPECT_EQ(auditFrom(), QDate(2024, 10, 1));
    driver.pick(QStringLiteral("auditPeriodKind"), QStringLiteral("按月"));
    waitForReading(QStringLiteral("audit"));
    EXPECT_EQ(reportsInTotal(), 1);
    EXPECT_EQ(auditFrom(), QDate(2024, 12, 1));
    EXPECT_TRUE(prompts.shown().empty());
}

// 导出CSV asks where to save, suggesting the range and the day as the name, and writes the rows
// shown there; cancelled, it writes nothing.
TEST_F(ReviewWindowTest, ExportingTheListWritesTheRowsShownWhereTheUserChose)
{
    folder.exec(QStringLiteral(
        "INSERT INTO A (A1, A3, A13, A14, A23) VALUES"
        " ('逾期甲', 'R1', '2024-09-10', '王医生', 1), ('明年戊', 'R5', '2024-12-01', '李医生', 1)"));
    open();
    waitForReading(QStringLiteral("followUp"));
    const QString path = folder.path() + u"/名单.csv";
    files.answer({});
    driver.click(QStringLiteral("followUpCsv"));
    EXPECT_FALSE(QFile::exists(path));
    files.answer(path);
    driver.click(QStringLiteral("followUpCsv"));

    ASSERT_EQ(files.asked().size(), 2u);
    EXPECT_EQ(files.asked().back().caption, QStringLiteral("导出CSV文件"));
    EXPECT_EQ(files.asked().back().suggestedName, QStringLiteral("随访名单-逾期-20241218.csv"));
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QStringList lines =
        QString::fromUtf8(written.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2); // the headers and the one overdue
    EXPECT_TRUE(lines[1].contains(u"逾期甲")) << lines[1].toStdString();
    EXPECT_EQ(driver.find<QStatusBar>(QStringLiteral("reviewStatusBar"))->currentMessage(),
              QStringLiteral("已导出 1 行到 %1").arg(path));
    EXPECT_TRUE(prompts.shown().empty());
}

// What a screen reader and the keyboard need: every control that takes the focus has a name and
// a spoken name, and Tab walks each tab's controls in the order they stand on the screen.
TEST_F(ReviewWindowTest, EveryControlIsNamedAndTabWalksEachTabInScreenOrder)
{
    open();
    QWidget& window = driver.window();
    for (QWidget* w : window.findChildren<QWidget*>()) {
        // Qt's own parts (a spin box's line edit, a box's pop-up list) speak for their control.
        if (!(w->focusPolicy() & Qt::TabFocus) || w->objectName().startsWith(u"qt_") || w->focusProxy() ||
            w->window() != &window)
            continue;
        EXPECT_FALSE(w->objectName().isEmpty()) << w->metaObject()->className();
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    }
    const auto order = [&](QWidget* tab, std::initializer_list<const char*> names) {
        QStringList walked;
        QWidget* first = tab->findChild<QWidget*>(QString::fromLatin1(*names.begin()));
        ASSERT_TRUE(first);
        QWidget* w = first;
        do {
            if (tab->isAncestorOf(w))
                if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() &&
                    !w->objectName().startsWith(u"qt_"))
                    walked << w->objectName();
            w = w->nextInFocusChain();
        } while (w != first);
        EXPECT_EQ(walked, texts(names));
    };
    order(driver.widget(QStringLiteral("followUpTab")),
          {"followUpRange", "followUpFrom", "followUpTo", "followUpPhysician", "followUpRefresh",
           "followUpCsv", "followUpPdf", "followUpPrint", "followUpTable"});
    order(driver.widget(QStringLiteral("auditTab")),
          {"auditPeriodKind", "auditYear", "auditPart", "auditFrom", "auditTo", "auditRefresh", "auditCsv",
           "auditPdf", "auditPrint", "auditTable"});
}

} // namespace
