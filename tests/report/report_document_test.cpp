#include "support/fake_word_processor.h"
#include "support/fakes.h"
#include "report/report_document.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::test;

namespace {

QString valueOf(const PlaceholderValues& fill, const QString& placeholder)
{
    for (const auto& [p, v] : fill) {
        if (p == placeholder)
            return v;
    }
    ADD_FAILURE() << "no placeholder " << placeholder.toStdString();
    return {};
}

TEST(ReportPlaceholders, AreTheTwentySevenInTableOrder)
{
    const QStringList& p = placeholderTexts();
    ASSERT_EQ(p.size(), 27);
    EXPECT_EQ(
        p.mid(0, 14),
        QStringList({QStringLiteral("<姓名>"), QStringLiteral("<年龄>"), QStringLiteral("<编号>"),
                     QStringLiteral("<临床检查>"), QStringLiteral("<B超>"), QStringLiteral("<钼靶>"),
                     QStringLiteral("<pj1>"), QStringLiteral("<pj2>"), QStringLiteral("<pj3>"),
                     QStringLiteral("<pj4>"), QStringLiteral("<初步诊断印象>"), QStringLiteral("<建议处理>"),
                     QStringLiteral("<检查日期>"), QStringLiteral("<主检医师>")}));
    EXPECT_EQ(p[14], u"<CL1>");
    EXPECT_EQ(p[26], u"<CL13>");
}

TEST(ReportPlaceholders, CarryTheWindowValuesAsTyped)
{
    ReportRecord r;
    r[Field::PatientName] = QStringLiteral("  张三 ");
    r[Field::Age] = QStringLiteral("45");
    r[Field::ScreeningNumber] = QStringLiteral("a01");
    r[Field::ClinicalExamination] = QStringLiteral("第一行\n第二行");
    r[Field::UltrasoundFindings] = QStringLiteral("   "); // only blanks
    r[Field::MammographyFindings].clear();
    r[Field::ClinicalGrade] = QStringLiteral("0");
    r[Field::Impression] = QStringLiteral("\t"); // a tab is not a blank
    r.examDate = QDate(2024, 5, 6);
    r[Field::Physician] = QStringLiteral("李四");
    r.checked(optionField(0)) = true;
    r.checked(optionField(1)) = false;
    r.checked(optionField(2)) = false;
    r.checked(optionField(12)) = true;

    const PlaceholderValues fill = ReportPlaceholders(r);
    ASSERT_EQ(fill.size(), 27u);
    for (std::size_t i = 0; i < fill.size(); ++i)
        EXPECT_EQ(fill[i].first, placeholderTexts()[qsizetype(i)]);
    EXPECT_EQ(valueOf(fill, QStringLiteral("<姓名>")), u"  张三 ");
    EXPECT_EQ(valueOf(fill, QStringLiteral("<编号>")), u"a01");
    EXPECT_EQ(valueOf(fill, QStringLiteral("<临床检查>")), u"第一行\n第二行");
    EXPECT_EQ(valueOf(fill, QStringLiteral("<B超>")), u" ");
    EXPECT_EQ(valueOf(fill, QStringLiteral("<钼靶>")), u" ");
    EXPECT_EQ(valueOf(fill, QStringLiteral("<pj1>")), u"0");
    EXPECT_EQ(valueOf(fill, QStringLiteral("<pj2>")), u" ");
    EXPECT_EQ(valueOf(fill, QStringLiteral("<初步诊断印象>")), u"\t");
    EXPECT_EQ(valueOf(fill, QStringLiteral("<检查日期>")), u"2024/5/6");
    EXPECT_EQ(valueOf(fill, QStringLiteral("<CL1>")), u"(√)");
    EXPECT_EQ(valueOf(fill, QStringLiteral("<CL2>")), u"( )");
    EXPECT_EQ(valueOf(fill, QStringLiteral("<CL3>")), u"( )");
    EXPECT_EQ(valueOf(fill, QStringLiteral("<CL13>")), u"(√)");
}

TEST(ReportPlaceholders, LongValuesAreNotCut)
{
    ReportRecord r;
    r[Field::ClinicalExamination] = QString(241, u'检');
    r[Field::RecommendedHandling] = QString(5000, u'x');
    const PlaceholderValues fill = ReportPlaceholders(r);
    EXPECT_EQ(valueOf(fill, QStringLiteral("<临床检查>")).size(), 241);
    EXPECT_EQ(valueOf(fill, QStringLiteral("<建议处理>")).size(), 5000);
}

TEST(ReportPlaceholders, DateIsTheChineseShortForm)
{
    EXPECT_EQ(shortDate(QDate(2024, 11, 23)), u"2024/11/23");
    EXPECT_EQ(shortDate(QDate(2024, 1, 2)), u"2024/1/2");
    EXPECT_EQ(shortDate(std::nullopt), QString());
    ReportRecord undated;
    EXPECT_EQ(valueOf(ReportPlaceholders(undated), QStringLiteral("<检查日期>")), u" ");
}

// A program folder on the real file system, with the word processor faked.
struct Preparation : ::testing::Test
{
    QTemporaryDir dir;
    FakeSystem system{dir.path()};
    std::shared_ptr<WordProcessorScript> script = std::make_shared<WordProcessorScript>();
    FakeWordProcessor wordProcessor{script};

    void SetUp() override { ASSERT_TRUE(wordProcessor.start(nullptr).ok()); }

    void write(const QString& name, const QByteArray& content)
    {
        QFile f(dir.path() + u'/' + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QByteArray read(const QString& name) const
    {
        QFile f(dir.path() + u'/' + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    bool exists(const QString& name) const { return QFile::exists(dir.path() + u'/' + name); }
};

TEST_F(Preparation, RefreshesTheWorkingCopyAndRemovesStaleLocks)
{
    write(QStringLiteral("Tmp2.Tmp"), "pristine");
    write(QStringLiteral("Tmp1.Tmp"), "changed outside the program");
    write(QStringLiteral("~$Tmp1.Tmp"), "owner");
    write(QStringLiteral(".~lock.Tmp1.Tmp#"), "lock");

    ASSERT_TRUE(PrepareReportDocument(system, wordProcessor).ok());
    EXPECT_EQ(read(QStringLiteral("Tmp1.Tmp")), "pristine");
    EXPECT_EQ(read(QStringLiteral("Tmp2.Tmp")), "pristine");
    EXPECT_FALSE(exists(QStringLiteral("~$Tmp1.Tmp")));
    EXPECT_FALSE(exists(QStringLiteral(".~lock.Tmp1.Tmp#")));
    EXPECT_EQ(script->openedPath, dir.path() + u"/Tmp1.Tmp");
    EXPECT_TRUE(wordProcessor.hasOpenDocument());
}

TEST_F(Preparation, WithoutThePristineTemplateOpensTheWorkingCopyAsItIs)
{
    write(QStringLiteral("Tmp1.Tmp"), "edited by the department");
    ASSERT_TRUE(PrepareReportDocument(system, wordProcessor).ok());
    EXPECT_EQ(read(QStringLiteral("Tmp1.Tmp")), "edited by the department");
    EXPECT_EQ(script->count(QStringLiteral("open ") + dir.path() + u"/Tmp1.Tmp"), 1);
}

TEST_F(Preparation, WithNoTemplateAtAllFailsWithoutCallingTheWordProcessor)
{
    const Status prepared = PrepareReportDocument(system, wordProcessor);
    ASSERT_FALSE(prepared.ok());
    EXPECT_TRUE(prepared.failure().description.contains(QStringLiteral("Tmp2.Tmp")));
    EXPECT_EQ(script->calls, QStringList{QStringLiteral("start")});
}

TEST_F(Preparation, AFolderNamedLikeTheLockIsNotTakenForIt)
{
    write(QStringLiteral("Tmp2.Tmp"), "pristine");
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("~$Tmp1.Tmp")));
    ASSERT_TRUE(PrepareReportDocument(system, wordProcessor).ok());
    EXPECT_TRUE(QFileInfo(dir.path() + u"/~$Tmp1.Tmp").isDir());
}

TEST_F(Preparation, AReportStillOpenIsClosedFirst)
{
    write(QStringLiteral("Tmp2.Tmp"), "pristine");
    ASSERT_TRUE(PrepareReportDocument(system, wordProcessor).ok());
    script->calls.clear();
    ASSERT_TRUE(PrepareReportDocument(system, wordProcessor).ok());
    ASSERT_GE(script->calls.size(), 2);
    EXPECT_EQ(script->calls[0], u"close");
    EXPECT_EQ(script->calls.back(), u"open " + dir.path() + u"/Tmp1.Tmp");
}

TEST_F(Preparation, AFailedOpenIsReported)
{
    write(QStringLiteral("Tmp2.Tmp"), "pristine");
    script->failOn[QStringLiteral("open")] = Failure{24, QStringLiteral("打不开")};
    const Status prepared = PrepareReportDocument(system, wordProcessor);
    ASSERT_FALSE(prepared.ok());
    EXPECT_EQ(prepared.failure().code, 24);
}

TEST_F(Preparation, FillHandsAllPlaceholdersOverInOnePassThenCollapses)
{
    write(QStringLiteral("Tmp2.Tmp"), "pristine");
    ASSERT_TRUE(PrepareReportDocument(system, wordProcessor).ok());
    ReportRecord r;
    r[Field::PatientName] = QStringLiteral("<编号>");
    r[Field::ScreeningNumber] = QStringLiteral("A01");
    script->calls.clear();
    ASSERT_TRUE(FillReportDocument(wordProcessor, r).ok());
    EXPECT_EQ(script->calls, QStringList({QStringLiteral("replace"), QStringLiteral("collapse")}));
    ASSERT_EQ(script->lastFill.size(), 27u);
    EXPECT_EQ(valueOf(script->lastFill, QStringLiteral("<姓名>")), u"<编号>");
}

// Also run under LC_ALL=en_US.UTF-8 and LC_ALL=C. The default locale is set to one whose short
// form is "12/9/26" as well, so a fill that took either the machine's or the default's form fails.
TEST_F(Preparation, FilledReportDateIsTheChineseShortFormWhateverTheLocale)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ReportRecord r;
    r[Field::ScreeningNumber] = QStringLiteral("A01");
    r.examDate = QDate(2026, 12, 9);
    const Status filled = FillReportDocument(wordProcessor, r);
    QLocale::setDefault(before);
    ASSERT_TRUE(filled.ok());
    EXPECT_EQ(valueOf(script->lastFill, QStringLiteral("<检查日期>")), u"2026/12/9");
}

} // namespace
