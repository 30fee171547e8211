#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

class QPainter;

namespace korvela {

// A word painted on a picture: drawn in `box` with `align`.
struct PaintedText
{
    QString text;
    QRect box;
    Qt::Alignment align;
    QColor color;
    QFont font;
};

// One of the window's pictures, in pixel coordinates within the picture: a white sheet, rules as
// filled one-pixel rectangles (crisp at any scale) and painted words.
struct Picture
{
    QSize size;
    QColor ruleColor;
    QList<QRect> rules;
    QList<PaintedText> texts;

    // The painted word with this text; the first one when it is painted more than once.
    const PaintedText* text(const QString& word) const;
};

// The header: the hospital department and the sheet's title.
Picture headerPicture();
// The report form: the ruled table whose cells hold the report fields, with their labels.
Picture reportFormPicture();
// The classification panel's table: its rules and headings; the option buttons are controls.
Picture classificationPicture();

void paintPicture(QPainter& painter, const Picture& picture);

// The window icon: an open notebook with a red cover, ruled pages and a pen, 32 and 16 pixels.
QIcon notebookIcon();
QPixmap paintNotebook(int size);

// A picture box or image control: its background colour with its picture at the top left.
class PictureBox : public QWidget
{
    Q_OBJECT
public:
    PictureBox(Picture picture, const QColor& background, QWidget* parent);
    const Picture& picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Picture m_picture;
};

} // namespace korvela
