#include "app/sheet_layout.h"

#include "records/report_fields.h"

#include <QComboBox>
#include <QLineEdit>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <limits>

namespace korvela {

QWidget* placeIn(QWidget* widget, const QString& name, const Cell& cell)
{
    return place(widget, name, cell.left, cell.top, cell.width, cell.height);
}

QString indexed(const char* name, int index)
{
    return QString::fromLatin1(name) + u'(' + QString::number(index) + u')';
}

void fillBackground(QWidget* widget, const QColor& colour)
{
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
}

QLineEdit* makeTextBox(QWidget* parent, const QString& accessibleName)
{
    auto* box = new QLineEdit(parent);
    box->setMaxLength(std::numeric_limits<int>::max());
    box->setAccessibleName(accessibleName);
    return box;
}

QComboBox* makeListBox(QWidget* parent, const QString& accessibleName)
{
    auto* box = new QComboBox(parent);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setAccessibleName(accessibleName);
    box->lineEdit()->setAccessibleName(accessibleName);
    box->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    return box;
}

void TabOrder::add(QWidget* control, int position)
{
    Q_ASSERT(!m_controls.contains(position));
    m_controls[position] = control;
    control->setProperty("tabIndex", position);
}

void TabOrder::chain() const
{
    QWidget* previous = nullptr;
    for (const auto& [position, control] : m_controls) {
        if (!(control->focusPolicy() & Qt::TabFocus))
            continue;
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

void WrappingButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    const QRect inside = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    painter.drawItemText(inside, Qt::AlignCenter | Qt::TextWordWrap, palette(), isEnabled(), text(),
                         QPalette::ButtonText);
}

} // namespace korvela
