#include "app/date_picker.h"
#include "reliability/hostile_texts.h"
#include "records/report_record.h"
#include "support/window_fixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::test;

namespace {

class HostileInput : public ::testing::TestWithParam<int>
{
protected:
    QString value() const { return hostileTexts()[GetParam()]; }
    WindowFixture w;
};

// Every value is stored and shown back exactly as typed, through every text field and list box.
TEST_P(HostileInput, EveryFieldStoresAndShowsBackExactlyWhatWasTyped)
{
    const QString v = value();
    ReportWindow& f = w.form();
    const QString number = u"K-" + v;
    for (QLineEdit* field : {f.a1, f.a4, f.a5, f.a6, f.a11, f.a12, f.a14})
        field->setText(v);
    f.a3->setText(number);
    for (QComboBox* box : {f.a2, f.a7, f.a8, f.a9, f.a10})
        box->setEditText(v);
    const ReportRecord typed = f.ReadReportForm();
    ASSERT_EQ(typed.a1, v) << "the field itself must take the whole text: " << shortName(v).toStdString();
    ASSERT_EQ(typed.a2, v) << shortName(v).toStdString();

    QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    ASSERT_EQ(w.prompts.texts(), QStringList{QStringLiteral("保存完毕！")}) << shortName(v).toStdString();

    // Found again by its number, name and physician, exactly, and shown whole.
    QTest::mouseClick(f.cmdAdd, Qt::LeftButton);
    f.b3->setText(number);
    // The boxes match stored texts from their beginning, after trimming what was typed: a name
    // stored with leading blanks is found by its number only.
    if (!v.startsWith(u' ')) {
        f.b1->setText(v);
        f.b14->setText(v);
    }
    QTest::mouseClick(f.Command1, Qt::LeftButton);
    EXPECT_EQ(f.Label1->text(), u"共查询到 1 条符合条件的记录") << shortName(v).toStdString();
    EXPECT_EQ(f.ReadReportForm(), typed) << shortName(v).toStdString();

    // Browsing shows it the same way.
    QTest::mouseClick(f.Command4, Qt::LeftButton);
    EXPECT_EQ(f.ReadReportForm(), typed);
    EXPECT_EQ(w.prompts.shown().size(), 1u) << "no statement error, no other message";
}

// A hostile search finds only what begins with it: the stored rows that look alike are not found.
TEST_P(HostileInput, SearchBoxesMatchTheTextLiterally)
{
    const QString v = value();
    w.folder.exec(QStringLiteral("INSERT INTO A (A1, A3, A13) VALUES ('张三', 'A01', '2024-01-01');"
                                 "INSERT INTO A (A1, A3, A13) VALUES ('a', 'b', '2024-01-02');"));
    ReportWindow& f = w.form();
    for (QLineEdit* box : {f.b3, f.b1, f.b14}) {
        f.b3->clear();
        f.b1->clear();
        f.b14->clear();
        box->setText(v);
        QTest::mouseClick(f.Command1, Qt::LeftButton);
        const bool onlyBlanks = v.trimmed().isEmpty();
        EXPECT_EQ(f.Label1->text(), onlyBlanks ? u"共查询到 2 条符合条件的记录" : u"共查询到 0 条符合条件的记录")
            << box->objectName().toStdString() << " " << shortName(v).toStdString();
    }
    EXPECT_TRUE(w.prompts.shown().empty());
}

INSTANTIATE_TEST_SUITE_P(Texts, HostileInput, ::testing::Range(0, int(hostileTexts().size())));

} // namespace
