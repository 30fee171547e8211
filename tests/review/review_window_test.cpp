#include "review/audit_tab.h"
#include "review/follow_up_tab.h"
#include "review/grade_audit.h"
#include "review/review_window.h"
#include "store/store_choice.h"
#include "support/fakes.h"
#include "support/temp_database.h"
#include "support/wait_until.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QFile>
#include <QSignalSpy>
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

// The list as the user sees it: the due date and the name of every row of the table.
QStringList shownRows(const QTableView* table)
{
    QStringList rows;
    const QAbstractItemModel* model = table->model();
    for (int r = 0; r < model->rowCount(); ++r)
        rows << model->index(r, int(FollowUpColumn::Due)).data().toString() + u' ' +
                    model->index(r, int(FollowUpColumn::Name)).data().toString();
    return rows;
}

// The user picks an entry of a box with the keyboard.
void pick(QComboBox* box, const QString& item)
{
    box->setFocus();
    const int target = box->findText(item);
    ASSERT_GE(target, 0) << item.toStdString();
    while (box->currentIndex() < target)
        QTest::keyClick(box, Qt::Key_Down);
    while (box->currentIndex() > target)
        QTest::keyClick(box, Qt::Key_Up);
}

TEST(ReviewWindow, ChoosingARangeOrAPhysicianFiltersTheListAndTheStoreIsNeverWritten)
{
    test::TempProgramFolder folder;
    // Wednesday 2024-12-18: this week is 12-16 to 12-22, the next 30 days 12-18 to 2025-01-16.
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

    test::FakePrompts prompts;
    test::FakeFileChooser files;
    ReviewServices services{
        [&] { return openReportStore(folder.path(), std::chrono::seconds(5), StoreAccess::ReadOnly); },
        prompts, files, [] { return QDate(2024, 12, 18); }};
    {
        ReviewWindow window(std::move(services));
        QSignalSpy shown(window.followUps(), &FollowUpTab::listShown);
        window.show();
        ASSERT_TRUE(test::waitUntil([&] { return shown.count() > 0; }));
        auto* table = window.findChild<QTableView*>(QStringLiteral("followUpTable"));
        auto* range = window.findChild<QComboBox*>(QStringLiteral("followUpRange"));
        auto* physician = window.findChild<QComboBox*>(QStringLiteral("followUpPhysician"));
        ASSERT_TRUE(table && range && physician);

        const auto rows = [](std::initializer_list<const char*> items) {
            QStringList out;
            for (const char* item : items)
                out << QString::fromUtf8(item);
            return out;
        };
        EXPECT_EQ(shownRows(table), rows({"2024-12-10 逾期甲", "2024-12-17 本周乙"}));
        pick(range, QStringLiteral("本周"));
        EXPECT_EQ(shownRows(table), rows({"2024-12-17 本周乙", "2024-12-20 本周丙"}));
        pick(range, QStringLiteral("未来30天"));
        EXPECT_EQ(shownRows(table), rows({"2024-12-20 本周丙", "2025-01-10 下月丁"}));
        pick(physician, QStringLiteral("李医生"));
        EXPECT_TRUE(shownRows(table).isEmpty());
        pick(range, QStringLiteral("逾期"));
        EXPECT_EQ(shownRows(table), rows({"2024-12-17 本周乙"}));
        pick(physician, QStringLiteral("全部医师"));
        EXPECT_EQ(shownRows(table).size(), 2);
        EXPECT_TRUE(prompts.shown().empty());
    }
    EXPECT_EQ(fileHash(folder.databaseFile()), before);
}

TEST(ReviewWindow, ChoosingAPeriodReadsTheFiguresOfThatPeriod)
{
    test::TempProgramFolder folder;
    folder.exec(QStringLiteral(
        "INSERT INTO A (A1, A3, A8, A13, A14) VALUES"
        " ('甲', 'Q1', '4', '2024-12-02', '王医生'), ('乙', 'Q2', '3', '2024-11-20', '王医生'),"
        " ('丙', 'Q3', '0', '2024-10-01', '李医生'), ('丁', 'Q4', '3', '2024-03-01', '李医生')"));
    test::FakePrompts prompts;
    test::FakeFileChooser files;
    ReviewWindow window(ReviewServices{
        [&] { return openReportStore(folder.path(), std::chrono::seconds(5), StoreAccess::ReadOnly); },
        prompts, files, [] { return QDate(2024, 12, 18); }});
    QSignalSpy shown(window.audit(), &AuditTab::auditShown);
    window.show();
    window.tabs()->setCurrentWidget(window.audit());
    const auto reports = [&](int readings) {
        EXPECT_TRUE(test::waitUntil([&] { return shown.count() >= readings; }));
        const GradeAudit* audit = window.audit()->model().audit();
        return audit ? audit->total.reports : -1;
    };
    EXPECT_EQ(reports(1), 4); // the year, at the tab's opening
    auto* kind = window.findChild<QComboBox*>(QStringLiteral("auditPeriodKind"));
    pick(kind, QStringLiteral("按季度"));
    EXPECT_EQ(reports(2), 3);
    EXPECT_EQ(window.audit()->period()->from, QDate(2024, 10, 1));
    pick(kind, QStringLiteral("按月"));
    EXPECT_EQ(reports(3), 1);
    EXPECT_EQ(window.audit()->period()->from, QDate(2024, 12, 1));
    EXPECT_TRUE(prompts.shown().empty());
}

// What a screen reader and the keyboard need: every control that takes the focus has a name and
// a spoken name, and Tab walks each tab's controls in the order they stand on the screen.
TEST(ReviewWindow, EveryControlIsNamedAndTabWalksEachTabInScreenOrder)
{
    test::TempProgramFolder folder;
    test::FakePrompts prompts;
    test::FakeFileChooser files;
    ReviewWindow window(ReviewServices{
        [&] { return openReportStore(folder.path(), std::chrono::seconds(5), StoreAccess::ReadOnly); },
        prompts, files});
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
        QStringList expected;
        for (const char* name : names)
            expected << QString::fromLatin1(name);
        EXPECT_EQ(walked, expected);
    };
    order(window.followUps(),
          {"followUpRange", "followUpFrom", "followUpTo", "followUpPhysician", "followUpRefresh",
           "followUpCsv", "followUpPdf", "followUpPrint", "followUpTable"});
    order(window.audit(), {"auditPeriodKind", "auditYear", "auditPart", "auditFrom", "auditTo",
                           "auditRefresh", "auditCsv", "auditPdf", "auditPrint", "auditTable"});
}

} // namespace
