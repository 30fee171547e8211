#include "review/grade_audit.h"
#include "review/review_charts.h"
#include "review/review_models.h"
#include "review/review_output.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace korvela;

namespace {

QStandardItemModel* table(const QStringList& headers, const std::vector<QStringList>& rows)
{
    auto* model = new QStandardItemModel(int(rows.size()), int(headers.size()));
    model->setHorizontalHeaderLabels(headers);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (qsizetype c = 0; c < rows[r].size(); ++c)
            model->setItem(int(r), int(c), new QStandardItem(rows[r][c]));
    return model;
}

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString();
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << ": " << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

TEST(CsvExport, IsUtf8WithAMarkCrLfAndQuotesOnlyWhereNeeded)
{
    std::unique_ptr<QStandardItemModel> model(
        table({QStringLiteral("姓名"), QStringLiteral("建议处理"), QStringLiteral("评级")},
              {{QStringLiteral("王秀英"), QStringLiteral("复查，必要时活检"), QStringLiteral(" 3 ")},
               {QStringLiteral("Li, Na"), QStringLiteral("说“好”"), QStringLiteral("３")},
               {QStringLiteral("He said \"no\""), QStringLiteral("第一行\n第二行"), QString()},
               {QStringLiteral("=1+1"), QStringLiteral("a\r\nb"), QStringLiteral("4a")},
               {QStringLiteral("a\rb"), QStringLiteral("\r"), QStringLiteral("5")}}));
    const QByteArray expected = "\xEF\xBB\xBF"
                                "姓名,建议处理,评级\r\n"
                                "王秀英,复查，必要时活检, 3 \r\n"
                                "\"Li, Na\",说“好”,３\r\n"
                                "\"He said \"\"no\"\"\",\"第一行\n第二行\",\r\n"
                                "=1+1,\"a\r\nb\",4a\r\n"
                                "\"a\rb\",\"\r\",5\r\n";
    EXPECT_EQ(csvBytes(*model), expected);
}

TEST(CsvExport, AFileThatCannotBeWrittenIsSaidAndAnExistingOneIsKept)
{
    QTemporaryDir dir;
    const Status missingFolder = writeFile(dir.path() + u"/无此文件夹/名单.csv", "x");
    ASSERT_FALSE(missingFolder.ok());
    EXPECT_EQ(missingFolder.failure().code, FailureCode::ReviewFileNotWritten);
    EXPECT_TRUE(missingFolder.failure().description.contains(u"无此文件夹"));

    const QString path = dir.path() + u"/名单.csv";
    ASSERT_TRUE(writeFile(path, "old").ok());
    ASSERT_TRUE(writeFile(path, "new").ok());
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("new"));
}

// A list long enough for several pages, with the audit's charts below it: the PDF opens, holds
// the names and every page number, and embeds its fonts.
TEST(PdfExport, OpensWithTheNamesEveryPageAndEmbeddedFonts)
{
    std::vector<QStringList> rows;
    for (int i = 0; i < 120; ++i)
        rows.push_back(
            {QStringLiteral("患者%1号").arg(i), QStringLiteral("2024%1").arg(i, 6, 10, QChar(u'0')),
             i == 7
                 ? QStringLiteral(
                       "建议六个月后复查，必要时空心针穿刺活检，如有不适随时就诊，复查时请携带既往影像资料")
                 : QStringLiteral("建议复查")});
    std::unique_ptr<QStandardItemModel> model(
        table({QStringLiteral("姓名"), QStringLiteral("筛查编号"), QStringLiteral("建议处理")}, rows));

    GradeAudit audit;
    audit.period = quarterPeriod(2024, 1);
    PhysicianFigures wang;
    wang.physician = QStringLiteral("王建国");
    wang.reports = 12;
    wang.xray[GradeBucket::G3] = 8;
    wang.xray[GradeBucket::G4] = 4;
    audit.physicians.push_back(wang);
    audit.total = wang;
    audit.reportsPerMonth = {{{2024, 1, 1}, 5}, {{2024, 2, 1}, 4}, {{2024, 3, 1}, 3}};

    ReviewDocument document;
    document.title = QStringLiteral("随访到期名单");
    document.notes << QStringLiteral("随诊范围：逾期");
    document.table = model.get();
    document.charts.push_back([&] { return xrayGradeChart(audit); });
    document.charts.push_back([&] { return reportsPerMonthChart(audit); });

    QTemporaryDir dir;
    const QString pdf = dir.path() + u"/随访名单.pdf";
    int lastPage = 0;
    ASSERT_TRUE(writePdf(pdf, document, [&](int page, int) {
                    lastPage = page;
                    return true;
                }).ok());

    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpressionMatch pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    ASSERT_TRUE(pages.hasMatch()) << info.toStdString();
    const int count = pages.captured(1).toInt();
    EXPECT_GE(count, 3);
    EXPECT_EQ(lastPage, count);
    EXPECT_TRUE(info.contains(u"A4")) << info.toStdString();

    const QString text =
        run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    for (const QString& word :
         {QStringLiteral("随访到期名单"), QStringLiteral("患者0号"), QStringLiteral("患者119号"),
          QStringLiteral("X线检查评级分布"), QStringLiteral("每月报告数"), QStringLiteral("王建国")})
        EXPECT_TRUE(text.contains(word)) << word.toStdString();
    // The long advice is wrapped in its cell, not cut off.
    EXPECT_TRUE(text.contains(u"携带既往影像资料")) << text.toStdString();
    for (int page = 1; page <= count; ++page)
        EXPECT_TRUE(text.contains(QStringLiteral("第 %1 页，共 %2 页").arg(page).arg(count))) << page;

    const QString fonts = run(QStringLiteral("pdffonts"), {pdf});
    const QStringList lines = fonts.split(u'\n', Qt::SkipEmptyParts).mid(2);
    ASSERT_FALSE(lines.isEmpty()) << fonts.toStdString();
    for (const QString& line : lines)
        EXPECT_TRUE(line.contains(QRegularExpression(QStringLiteral("\\s+yes\\s+(yes|no)\\s+yes\\s+"))))
            << line.toStdString();
}

TEST(PdfExport, StoppingOnTheWayLeavesNoFile)
{
    std::vector<QStringList> rows(200, QStringList{QStringLiteral("王秀英")});
    std::unique_ptr<QStandardItemModel> model(table({QStringLiteral("姓名")}, rows));
    ReviewDocument document{QStringLiteral("随访到期名单"), {}, model.get(), {}};
    QTemporaryDir dir;
    const QString pdf = dir.path() + u"/名单.pdf";
    const Status stopped = writePdf(pdf, document, [](int page, int) { return page < 2; });
    ASSERT_FALSE(stopped.ok());
    EXPECT_EQ(stopped.failure().code, FailureCode::ReviewCancelled);
    EXPECT_FALSE(QFile::exists(pdf));
}

} // namespace
