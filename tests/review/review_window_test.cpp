#include "records/report_store.h"
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
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
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
            [this] { return openReportStore(folder.path(), std::chrono::seconds(5), StoreAccess::ReadWrite); },
            prompts, files, [] { return QDate(2024, 12, 18); }});
        driver.setWindow(m_window.get());
        m_window->show();
    }
    void close() { m_window.reset(); }

    void openTab(const QString& tab)
    {
        driver.find<QTabWidget>(QStringLiteral("reviewTabs"))->setCurrentWidget(driver.widget(tab));
    }
    void openAudit() { openTab(QStringLiteral("auditTab")); }
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

// The 修改记录 tab over reports saved, overwritten and deleted as the report window does it.
class HistoryTabTest : public ReviewWindowTest
{
protected:
    static ReportRecord report(const char* number, const char* xray)
    {
        ReportRecord r;
        r[Field::ScreeningNumber] = QString::fromUtf8(number);
        r[Field::PatientName] = QStringLiteral("王五");
        r[Field::XRayGrade] = QString::fromUtf8(xray);
        r.examDate = QDate(2024, 12, 2);
        return r;
    }
    void save(const ReportRecord& r)
    {
        ASSERT_EQ(ReportStore(*writable()).save(r, [] { return true; }).kind, SaveResult::Saved);
    }
    void remove(const char* number) { ASSERT_TRUE(ReportStore(*writable()).remove(QString::fromUtf8(number)).ok()); }

    void openHistory()
    {
        open();
        openTab(QStringLiteral("historyTab"));
        waitForReading(QStringLiteral("history"));
    }
    // 操作 and 筛查编号 of every change listed.
    QStringList listed() const
    {
        QStringList rows;
        const QAbstractItemModel* model = driver.find<QTableView>(QStringLiteral("historyTable"))->model();
        for (int r = 0; r < model->rowCount(); ++r)
            rows << model->index(r, 1).data().toString() + u' ' + model->index(r, 2).data().toString();
        return rows;
    }
    // Chooses a change of the list and waits for its versions.
    void choose(int row)
    {
        driver.find<QTableView>(QStringLiteral("historyTable"))->selectRow(row);
        const QAbstractItemModel* versions = versionsModel();
        ASSERT_TRUE(test::waitUntil([versions] { return versions->rowCount() == int(kFieldCount); }));
    }
    const QAbstractItemModel* versionsModel() const
    {
        return driver.find<QTableView>(QStringLiteral("historyVersions"))->model();
    }
    // The field's row of the versions: its caption, before, after, and whether it is marked changed.
    QString version(Field field) const
    {
        const QAbstractItemModel* m = versionsModel();
        const int row = int(index(field));
        const bool marked = m->index(row, 1).data(Qt::FontRole).value<QFont>().bold();
        return QStringList{m->index(row, 0).data().toString(), m->index(row, 1).data().toString(),
                           m->index(row, 2).data().toString(), marked ? QStringLiteral("changed") : QString()}
            .join(u'|');
    }
    bool restoreEnabled() const { return driver.button(QStringLiteral("historyRestore"))->isEnabled(); }
    QString newest(const char* column) const
    {
        return folder.scalar(QStringLiteral("SELECT %1 FROM report_history ORDER BY seq DESC LIMIT 1")
                                 .arg(QString::fromLatin1(column)));
    }
    QString seqOf(const char* action) const
    {
        return folder.scalar(
            QStringLiteral("SELECT max(seq) FROM report_history WHERE action = '%1'").arg(QString::fromUtf8(action)));
    }

private:
    std::unique_ptr<ReportDatabase> writable()
    {
        Result<std::unique_ptr<ReportDatabase>> db =
            openReportStore(folder.path(), std::chrono::seconds(5), StoreAccess::ReadWrite);
        EXPECT_TRUE(db.ok());
        return std::move(db).value();
    }
};

TEST_F(HistoryTabTest, FilteringListsTheChangesAndChoosingOneMarksTheFieldsItChanged)
{
    save(report("H1", "3"));
    save(report("h1 ", "4"));
    save(report("H2", "2"));
    folder.exec(QStringLiteral("INSERT INTO access_log (event, report_id) SELECT '查看', rowid FROM A"));
    openHistory();
    EXPECT_EQ(listed(), texts({"新建 H2", "修改 H1", "新建 H1"}));

    driver.type(QStringLiteral("historyNumber"), QStringLiteral(" h1"));
    QTest::keyClick(driver.widget(QStringLiteral("historyNumber")), Qt::Key_Return);
    waitForReading(QStringLiteral("history"));
    EXPECT_EQ(listed(), texts({"修改 H1", "新建 H1"}));
    choose(0);
    EXPECT_EQ(version(Field::XRayGrade), QStringLiteral("X线检查评级|3|4|changed"));
    EXPECT_EQ(version(Field::PatientName), QStringLiteral("姓名|王五|王五|"));
    EXPECT_EQ(version(Field::ExamDate), QStringLiteral("检查日期|2024-12-02|2024-12-02|"));
    EXPECT_TRUE(restoreEnabled());
    const QAbstractItemModel* accesses = driver.find<QTableView>(QStringLiteral("historyAccess"))->model();
    ASSERT_EQ(accesses->rowCount(), 1);
    EXPECT_EQ(accesses->index(0, 1).data().toString(), QStringLiteral("查看"));
    choose(1);
    EXPECT_EQ(version(Field::XRayGrade), QStringLiteral("X线检查评级||3|changed"));
    EXPECT_FALSE(restoreEnabled()) << "a new report has no earlier version";

    driver.pick(QStringLiteral("historyAction"), QStringLiteral("修改"));
    waitForReading(QStringLiteral("history"));
    EXPECT_EQ(listed(), texts({"修改 H1"}));
    EXPECT_TRUE(prompts.shown().empty());
}

TEST_F(HistoryTabTest, RestoringAnOverwrittenVersionAsksFirstAndIsSavedAsARestoreOfThatChange)
{
    save(report("H1", "3"));
    save(report("H1", "4"));
    const QString overwrite = seqOf("修改");
    openHistory();
    choose(0);
    const QString question = QStringLiteral("王五 这名患者的报告已经存在，是否更改？");

    prompts.answer(PromptAnswer::No);
    driver.click(QStringLiteral("historyRestore"));
    EXPECT_EQ(prompts.texts(), QStringList{question});
    EXPECT_EQ(folder.scalar(QStringLiteral("SELECT A8 FROM A")), QStringLiteral("4"));
    EXPECT_EQ(newest("action"), QStringLiteral("修改"));

    prompts.clear();
    prompts.answer(PromptAnswer::Yes);
    driver.click(QStringLiteral("historyRestore"));
    EXPECT_EQ(prompts.texts(), (QStringList{question, QStringLiteral("保存完毕！")}));
    EXPECT_EQ(folder.scalar(QStringLiteral("SELECT count(*) || ' ' || A8 FROM A")), QStringLiteral("1 3"));
    EXPECT_EQ(newest("action"), QStringLiteral("恢复"));
    EXPECT_EQ(newest("restores"), overwrite);
    waitForReading(QStringLiteral("history"));
    EXPECT_EQ(listed(), texts({"恢复 H1", "修改 H1", "新建 H1"}));
    choose(0);
    EXPECT_FALSE(restoreEnabled()) << "only an overwrite or a delete is undone";
}

TEST_F(HistoryTabTest, RestoringADeletedReportSavesItAgainWithoutAQuestion)
{
    save(report("H3", "5"));
    remove("h3");
    const QString deleted = seqOf("删除");
    openHistory();
    EXPECT_EQ(listed(), texts({"删除 H3", "新建 H3"}));
    choose(0);
    EXPECT_EQ(version(Field::XRayGrade), QStringLiteral("X线检查评级|5||changed"));

    driver.click(QStringLiteral("historyRestore"));
    EXPECT_EQ(prompts.texts(), QStringList{QStringLiteral("保存完毕！")});
    EXPECT_EQ(folder.scalar(QStringLiteral("SELECT A3 || ' ' || A8 FROM A")), QStringLiteral("H3 5"));
    EXPECT_EQ(newest("action"), QStringLiteral("恢复"));
    EXPECT_EQ(newest("restores"), deleted);
}

TEST_F(HistoryTabTest, AVersionThatCannotBeReadIsSaidSoAndNothingIsSaved)
{
    save(report("H1", "3"));
    save(report("H1", "4"));
    save(report("H1", "5"));
    openHistory();
    // The version as it is when 恢复此版本 is clicked: damaged, or gone, after it was shown.
    const struct
    {
        int row;
        const char* stored;
    } cases[] = {{0, "'[\"H1\"]'"}, {1, "NULL"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        choose(c.row);
        const QString seq = folder.scalar(
            QStringLiteral("SELECT seq FROM report_history ORDER BY seq DESC LIMIT 1 OFFSET %1").arg(c.row));
        folder.exec(QStringLiteral("UPDATE report_history SET before = %1 WHERE seq = %2")
                        .arg(QString::fromUtf8(c.stored), seq));
        prompts.clear();
        driver.click(QStringLiteral("historyRestore"));
        ASSERT_EQ(prompts.shown().size(), 1u);
        EXPECT_TRUE(prompts.last().text.startsWith(QStringLiteral("无法读取此版本（修改记录第 %1 条）：").arg(seq)))
            << prompts.last().text.toStdString();
        EXPECT_EQ(folder.scalar(QStringLiteral("SELECT A8 FROM A")), QStringLiteral("5"));
        EXPECT_EQ(newest("action"), QStringLiteral("修改"));
    }
}

TEST_F(HistoryTabTest, ExportingTheHistoryWritesTheChangesListed)
{
    save(report("H1", "3"));
    save(report("H1", "4"));
    openHistory();
    const QString path = folder.path() + u"/修改记录.csv";
    files.answer(path);
    driver.click(QStringLiteral("historyCsv"));

    ASSERT_EQ(files.asked().size(), 1u);
    EXPECT_EQ(files.asked().back().suggestedName, QStringLiteral("修改记录-20241218.csv"));
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(written.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0], QStringLiteral("时间,操作,筛查编号,姓名,修改人,工作站"));
    EXPECT_TRUE(rows[1].contains(QStringLiteral(",修改,H1,王五,"))) << rows[1].toStdString();
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
    order(driver.widget(QStringLiteral("historyTab")),
          {"historyNumber", "historyWho", "historyAction", "historyFrom", "historyTo", "historyRefresh",
           "historyCsv", "historyPdf", "historyPrint", "historyTable", "historyVersions", "historyRestore",
           "historyAccess"});
}

} // namespace
