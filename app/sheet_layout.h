#pragma once

#include <QPushButton>
#include <QString>
#include <QWidget>

#include <map>

class QColor;
class QLineEdit;
class QComboBox;

namespace korvela {

struct Cell;

// The sheet is designed in twips; 15 twips are one device-independent pixel, so a high-DPI
// screen scales the whole sheet.
inline int tw(int twips)
{
    return qRound(twips / 15.0);
}

// Names a control and sets it in its cell, given in twips of its parent.
template <typename W> W* place(W* widget, const QString& name, int left, int top, int width, int height)
{
    widget->setObjectName(name);
    widget->setGeometry(tw(left), tw(top), tw(width), tw(height));
    return widget;
}
QWidget* placeIn(QWidget* widget, const QString& name, const Cell& cell);

// "Check2(3)": the name of a control of a group, by its index.
QString indexed(const char* name, int index);

void fillBackground(QWidget* widget, const QColor& colour);

// A text box without a length limit: a long finding stored once must show back whole, never cut
// at Qt's default of 32767 characters.
QLineEdit* makeTextBox(QWidget* parent, const QString& accessibleName);
// An editable list box that keeps whatever text is typed or shown; an editable combo box speaks
// for its text field, which gets the accessible name too.
QComboBox* makeListBox(QWidget* parent, const QString& accessibleName);

// Every control of the window with a tab position, across the panels; focus then follows the
// positions among the controls that take it. Qt skips the hidden and the disabled ones, as it
// skips the classification panel while it is hidden.
class TabOrder
{
public:
    void add(QWidget* control, int position);
    void chain() const;

private:
    std::map<int, QWidget*> m_controls;
};

// A button whose caption wraps inside it, breaking between Chinese characters where it must.
class WrappingButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent*) override;
};

} // namespace korvela
