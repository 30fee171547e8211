#include "records/report_fields.h"
#include "support/temp_database.h"
#include "support/window_fixture.h"
#include "widgets/date_picker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::test;

namespace {

QByteArray readFile(const char* path)
{
    QFile file(QString::fromUtf8(path));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
    return file.readAll();
}

// Every "<word>" of a text: a word of letters and digits, Chinese or Latin, between angle brackets.
QSet<QString> placeholdersIn(const QString& text, const QString& open, const QString& close)
{
    const QRegularExpression form(QRegularExpression::escape(open) + u"(\\w+)" +
                                      QRegularExpression::escape(close),
                                  QRegularExpression::UseUnicodePropertiesOption);
    QSet<QString> found;
    for (const QRegularExpressionMatch& m : form.globalMatch(text))
        found << u'<' + m.captured(1) + u'>';
    return found;
}

std::string stringOf(const QSet<QString>& set)
{
    QStringList items = set.values();
    items.sort();
    return items.join(u' ').toStdString();
}

// The table's columns are table A's, in order, each of the type its kind is stored as: the
// options INTEGER (1 or 0), every other field TEXT. The schema has no column beyond A1..A27.
TEST(ReportFields, AreTheColumnsOfTableAInOrder)
{
    TempProgramFolder folder; // Data/Data.Dat made from data/schema.sql
    QStringList table;
    for (const FieldInfo& f : reportFields())
        table << QString::fromLatin1(f.column) + u' ' + (f.kind == FieldKind::Option ? u"INTEGER" : u"TEXT");
    EXPECT_EQ(folder
                  .scalar(QStringLiteral("SELECT group_concat(name || ' ' || type, ',') FROM "
                                         "(SELECT name, type FROM pragma_table_info('A') ORDER BY cid)"))
                  .toStdString(),
              table.join(u',').toStdString());
}

// Each placeholder of the table is in the template, and the template has no other: in the text
// source and in the built template that the program fills.
TEST(ReportFields, PlaceholdersAreExactlyTheTemplates)
{
    QSet<QString> table;
    for (const FieldInfo& f : reportFields())
        table << QString::fromUtf16(f.placeholder);
    ASSERT_EQ(table.size(), qsizetype(kFieldCount)) << "each field has a placeholder of its own";

    // The source writes "<" and ">" as entities; its comment explaining that is not part of the sheet.
    QString source = QString::fromUtf8(readFile(KORVELA_TEMPLATE_SOURCE));
    source.remove(
        QRegularExpression(QStringLiteral("<!--.*?-->"), QRegularExpression::DotMatchesEverythingOption));
    EXPECT_EQ(stringOf(placeholdersIn(source, QStringLiteral("&lt;"), QStringLiteral("&gt;"))),
              stringOf(table))
        << KORVELA_TEMPLATE_SOURCE;

    // The Word 97 file keeps its text as UTF-16; the binary parts around it may hold lone
    // surrogates, which a regular expression refuses, so they are blanked.
    const QByteArray built = readFile(KORVELA_TEMPLATE);
    QString builtText =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(built.constData()), built.size() / 2);
    for (QChar& c : builtText) {
        if (c.isSurrogate())
            c = QChar::ReplacementCharacter;
    }
    EXPECT_EQ(stringOf(placeholdersIn(builtText, QStringLiteral("<"), QStringLiteral(">"))), stringOf(table))
        << KORVELA_TEMPLATE;
}

// Each field has one control of its name and kind on the report sheet, at its cell, with its
// accessible name and tab position; a list box holds exactly its numbers. The window has no
// report field the table lacks.
TEST(ReportFields, EachHasItsControlInTheWindow)
{
    WindowFixture w;
    QWidget* sheet = w.widget(QStringLiteral("Picture2"));
    const auto pixels = [](int twips) { return qRound(twips / 15.0); };
    for (const FieldInfo& f : reportFields()) {
        const QString name = QString::fromLatin1(f.control);
        SCOPED_TRACE(name.toStdString());
        QWidget* control = nullptr;
        switch (f.kind) {
        case FieldKind::Text:
            control = w.find<QLineEdit>(name);
            break;
        case FieldKind::List:
            control = w.find<QComboBox>(name);
            break;
        case FieldKind::Date:
            control = w.find<DatePicker>(name);
            break;
        case FieldKind::Option:
            control = w.find<QCheckBox>(name);
            break;
        }
        EXPECT_EQ(w.window().findChildren<QWidget*>(name).size(), 1) << "one control of that name";
        ASSERT_TRUE(sheet->isAncestorOf(control)) << "on the report sheet";
        EXPECT_EQ(
            QRect(control->mapTo(sheet, QPoint(0, 0)), control->size()),
            QRect(pixels(f.cell.left), pixels(f.cell.top), pixels(f.cell.width), pixels(f.cell.height)));
        EXPECT_EQ(control->accessibleName().toStdString(), accessibleName(f).toStdString());
        const QVariant tabIndex = control->property("tabIndex");
        EXPECT_TRUE(tabIndex.isValid()) << "a tab position";
        EXPECT_EQ(tabIndex.toInt(), f.tabPosition);
        if (f.kind == FieldKind::List) {
            auto* list = static_cast<QComboBox*>(control);
            EXPECT_EQ(list->lineEdit()->accessibleName().toStdString(), accessibleName(f).toStdString())
                << "its text field speaks for it";
            QStringList expected;
            for (int n = f.listFirst; n <= f.listLast; ++n)
                expected << QString::number(n);
            QStringList items;
            for (int i = 0; i < list->count(); ++i)
                items << list->itemText(i);
            EXPECT_EQ(items.join(u' ').toStdString(), expected.join(u' ').toStdString());
        }
    }
    const QRegularExpression fieldName(QStringLiteral("^(a\\d+|Check2\\(\\d+\\))$"));
    EXPECT_EQ(w.window().findChildren<QWidget*>(fieldName).size(), qsizetype(kFieldCount));
}

} // namespace
