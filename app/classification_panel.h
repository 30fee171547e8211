#pragma once

#include <QObject>

#include <array>

class QPoint;
class QRadioButton;
class QWidget;

namespace korvela {

class PictureBox;
class TabOrder;

// The mammography classification picker (Picture3): HU types and density types for the right and
// the left breast, one exclusive group each, composing the findings text. Hidden until opened.
class ClassificationPanel : public QObject
{
    Q_OBJECT
public:
    ClassificationPanel(QWidget* window, TabOrder& tabs);

    QWidget* widget() const;
    // Shows the panel at `topLeft` of the window, every choice cleared.
    void open(const QPoint& topLeft);
    void close();

signals:
    // "调 用": the text composed from the choices.
    void chosen(const QString& text);
    // "取 消".
    void cancelled();

private:
    void choose();

    PictureBox* m_panel = nullptr;
    // Frame1(0) holds the right side's HU types (Option1), Frame1(1) the left side's (Option2),
    // Frame1(2) and Frame1(3) the density types of the right (Option3) and the left (Option4).
    std::array<QRadioButton*, 10> m_rightHu{};
    std::array<QRadioButton*, 10> m_leftHu{};
    std::array<QRadioButton*, 4> m_rightDensity{};
    std::array<QRadioButton*, 4> m_leftDensity{};
};

} // namespace korvela
