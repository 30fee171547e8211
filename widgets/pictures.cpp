#include "widgets/pictures.h"

#include "widgets/fonts.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <utility>

namespace korvela {

namespace {

constexpr Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;

// The report form's table: a label column and a value column, rows by their top edges.
constexpr int kWidth = 702;
constexpr int kHeight = 324;
constexpr int kValueColumn = 98;
constexpr int kRight = 701;
constexpr int kLabelIndent = 8;
// The two inner rules of the first and the last row.
constexpr int kInnerRules[2] = {315, 466};
// The handling row holds two lines of options in its value cell.
constexpr int kHandlingTop = 225;
constexpr int kHandlingMiddle = 257;
constexpr int kHandlingBottom = 289;

const QColor kFormRules(204, 204, 204);
const QColor kFormInk(51, 51, 51);

} // namespace

const PaintedText* Picture::text(const QString& word) const
{
    for (const PaintedText& painted : texts) {
        if (painted.text == word)
            return &painted;
    }
    return nullptr;
}

Picture headerPicture()
{
    Picture header{QSize(454, 84), QColor(), {}, {}};
    const QFont font = headerFont(22);
    header.texts = {
        {QStringLiteral("澜汐医院乳腺诊断科"), QRect(0, 15, 454, 22), Qt::AlignCenter, QColor(28, 110, 15),
         font},
        {QStringLiteral("检查结果报告单"), QRect(0, 56, 454, 22), Qt::AlignCenter, QColor(157, 43, 28), font},
    };
    return header;
}

Picture reportFormPicture()
{
    Picture form{QSize(kWidth, kHeight), kFormRules, {}, {}};
    const QFont font = songFont(TextSize::Default);

    static constexpr int rowTops[] = {0, 32, 64, 96, 129, 161, 193, kHandlingTop, kHandlingBottom, 323};
    for (int y : rowTops)
        form.rules << QRect(0, y, kWidth, 1);
    form.rules << QRect(kValueColumn, kHandlingMiddle, kWidth - kValueColumn, 1);
    for (int x : {0, kValueColumn, kRight})
        form.rules << QRect(x, 0, 1, kHeight);
    for (int x : kInnerRules) {
        form.rules << QRect(x, 0, 1, 33);
        form.rules << QRect(x, kHandlingBottom, 1, kHeight - kHandlingBottom);
    }

    // A label in the label column of the row from `top` to `bottom`.
    const auto label = [&](const QString& text, int top, int bottom) {
        form.texts << PaintedText{text, QRect(kLabelIndent, top, kValueColumn - kLabelIndent, bottom - top),
                                  kLeft, kFormInk, font};
    };
    // A word in the value column, starting at x.
    const auto word = [&](const QString& text, int x, int top, int bottom) {
        form.texts << PaintedText{text, QRect(x, top, kRight - x, bottom - top), kLeft, kFormInk, font};
    };
    const QString star = QStringLiteral("*");

    label(QStringLiteral("姓名："), 0, 32);
    word(star, 243, 0, 32);
    word(QStringLiteral("年 龄："), 323, 0, 32);
    word(QStringLiteral("筛查编号："), 475, 0, 32);
    word(star, 681, 0, 32);

    label(QStringLiteral("临床检查："), 32, 64);
    label(QStringLiteral("B超："), 64, 96);
    word(star, 663, 64, 96);
    label(QStringLiteral("钼靶："), 96, 129);

    label(QStringLiteral("评级："), 129, 161);
    word(QStringLiteral("临床检查评级："), 106, 129, 161);
    word(QStringLiteral("X线检查评级："), 238, 129, 161);
    word(QStringLiteral("超声检查评级："), 364, 129, 161);
    word(QStringLiteral("其它评级："), 494, 129, 161);

    label(QStringLiteral("初步诊断印象："), 161, 193);
    word(star, 663, 161, 193);
    label(QStringLiteral("建议处理："), 193, kHandlingTop);

    label(QStringLiteral("处理方式："), kHandlingTop, kHandlingBottom);
    static const std::pair<const char16_t*, int> upper[] = {
        {u"无", 106},        {u"穿刺抽液", 148}, {u"空心针穿刺", 226}, {u"活检", 316},
        {u"Mammotome", 371}, {u"乳管镜", 477},   {u"住院手术", 543},   {u"术中冰冻", 621}};
    for (const auto& [text, x] : upper)
        word(QString::fromUtf16(text), x, kHandlingTop, kHandlingMiddle);
    static const std::pair<const char16_t*, int> lower[] = {
        {u"三个月后随诊", 106}, {u"六个月后随诊", 208}, {u"一年后随诊", 310}, {u"【", 405},
        {u"B超", 419},          {u"钼靶", 468},         {u"】", 522}};
    for (const auto& [text, x] : lower)
        word(QString::fromUtf16(text), x, kHandlingMiddle, kHandlingBottom);

    label(QStringLiteral("检查日期："), kHandlingBottom, 323);
    word(QStringLiteral("主检医师："), 323, kHandlingBottom, 323);
    word(star, 615, kHandlingBottom, 323);
    return form;
}

Picture classificationPicture()
{
    // The right border (x 496) and the bottom border (y 195) are the panel's two line controls.
    Picture panel{QSize(497, 196), QColor(203, 203, 203), {}, {}};
    for (int y : {29, 53, 145})
        panel.rules << QRect(10, y, 486, 1);
    for (int x : {10, 142, 332})
        panel.rules << QRect(x, 29, 1, 166);

    const QFont font = songFont(TextSize::Default);
    const auto heading = [&](const QString& text, const QRect& cell) {
        panel.texts << PaintedText{text, cell, Qt::AlignCenter, kFormInk, font};
    };
    heading(QStringLiteral("分型"), QRect(10, 29, 132, 24));
    heading(QStringLiteral("右侧"), QRect(142, 29, 190, 24));
    heading(QStringLiteral("左侧"), QRect(332, 29, 164, 24));
    heading(QStringLiteral("HU 分型"), QRect(10, 53, 132, 92));
    heading(QStringLiteral("BI-TADS 分型"), QRect(10, 145, 132, 51));
    return panel;
}

void paintPicture(QPainter& painter, const Picture& picture)
{
    painter.fillRect(QRect(QPoint(0, 0), picture.size), Qt::white);
    for (const QRect& rule : picture.rules)
        painter.fillRect(rule, picture.ruleColor);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const PaintedText& painted : picture.texts) {
        painter.setFont(painted.font);
        painter.setPen(painted.color);
        painter.drawText(painted.box, int(painted.align), painted.text);
    }
}

namespace {

const QColor kCover(190, 20, 20);
const QColor kRuling(70, 110, 200);
const QColor kPenBody(30, 50, 150);
const QColor kPenCap(20, 20, 40);
const QColor kNib(235, 185, 40);

// The small icon is set pixel by pixel, so that its few pixels stay sharp.
void paintSmallNotebook(QPainter& p)
{
    p.fillRect(QRect(0, 2, 16, 13), kCover);
    p.fillRect(QRect(1, 14, 14, 1), kCover.darker(130));
    p.fillRect(QRect(2, 3, 12, 10), Qt::white);
    p.fillRect(QRect(8, 3, 1, 10), QColor(170, 170, 170));
    for (int y : {5, 7, 9, 11}) {
        p.fillRect(QRect(3, y, 4, 1), kRuling);
        p.fillRect(QRect(10, y, 3, 1), kRuling);
    }
    // The pen, from its cap at the top right down to its nib on the right page.
    p.fillRect(QRect(14, 0, 2, 1), kPenCap);
    for (int i = 1; i <= 5; ++i)
        p.fillRect(QRect(14 - i, i, 2, 1), kPenBody);
    p.fillRect(QRect(9, 6, 1, 1), kNib);
    p.fillRect(QRect(8, 7, 1, 1), kNib);
}

void paintLargeNotebook(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    // The cover, wider and deeper than the pages so that it shows around them.
    p.setPen(Qt::NoPen);
    p.setBrush(kCover);
    p.drawRoundedRect(QRectF(0, 5, 32, 25), 3, 3);

    // Two pages meeting at the spine.
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({QPointF(4, 6), QPointF(15.5, 8), QPointF(15.5, 25), QPointF(4, 23)}));
    p.drawPolygon(QPolygonF({QPointF(16.5, 8), QPointF(28, 6), QPointF(28, 23), QPointF(16.5, 25)}));

    p.setPen(QPen(kRuling, 1.0));
    for (int i = 0; i < 4; ++i) {
        const double y = 11 + i * 2.5;
        p.drawLine(QPointF(6, y), QPointF(13.5, y + 1.2));
        p.drawLine(QPointF(18.5, y + 1.2), QPointF(26, y));
    }

    // The pen lies across the right page, its nib towards the lower left.
    p.translate(24, 14);
    p.rotate(35);
    p.setPen(Qt::NoPen);
    p.setBrush(kPenBody);
    p.drawRect(QRectF(-2, -12, 4, 14));
    p.setBrush(kPenCap);
    p.drawRect(QRectF(-2, -14, 4, 2));
    p.setBrush(kNib);
    QPainterPath nib;
    nib.moveTo(-2, 2);
    nib.lineTo(2, 2);
    nib.lineTo(0, 7);
    nib.closeSubpath();
    p.drawPath(nib);
}

} // namespace

QPixmap paintNotebook(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    const bool small = size < 32;
    p.scale(size / (small ? 16.0 : 32.0), size / (small ? 16.0 : 32.0));
    if (small)
        paintSmallNotebook(p);
    else
        paintLargeNotebook(p);
    return pixmap;
}

QIcon notebookIcon()
{
    QIcon icon;
    icon.addPixmap(paintNotebook(32));
    icon.addPixmap(paintNotebook(16));
    return icon;
}

PictureBox::PictureBox(Picture picture, const QColor& background, QWidget* parent)
    : QWidget(parent)
    , m_picture(std::move(picture))
{
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, background);
    setPalette(palette);
}

void PictureBox::paintEvent(QPaintEvent*)
{
    if (m_picture.size.isEmpty())
        return;
    QPainter painter(this);
    paintPicture(painter, m_picture);
}

} // namespace korvela
