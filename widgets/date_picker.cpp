#include "widgets/date_picker.h"

namespace korvela {

namespace {
// The day before the earliest date the picker accepts stands for "no date"; Qt shows the special
// value text in its place.
const QDate kNoDate(1752, 9, 13);
} // namespace

DatePicker::DatePicker(QWidget* parent)
    : QDateEdit(parent)
{
    setCalendarPopup(true);
    setDisplayFormat(QStringLiteral("yyyy年MM月dd日"));
    setMinimumDate(kNoDate);
    setMaximumDate(QDate(9999, 12, 31));
    setSpecialValueText(QStringLiteral(" "));
    setDate(QDate::currentDate());
}

std::optional<QDate> DatePicker::value() const
{
    const QDate d = date();
    if (d == kNoDate || !d.isValid())
        return std::nullopt;
    return d;
}

void DatePicker::setValue(std::optional<QDate> date)
{
    setDate(date && date->isValid() && *date > kNoDate ? *date : kNoDate);
}

bool DatePicker::focusNextPrevChild(bool next)
{
    return QWidget::focusNextPrevChild(next);
}

} // namespace korvela
