#pragma once

#include <QDateEdit>

#include <optional>

namespace korvela {

// The examination-date picker: a date only (no time of day), a calendar pop-up, the Chinese date
// form. It can also hold no date, for rows that were stored without one; it then shows blank.
class DatePicker : public QDateEdit
{
    Q_OBJECT
public:
    explicit DatePicker(QWidget* parent = nullptr);

    std::optional<QDate> value() const;
    void setValue(std::optional<QDate> date);

protected:
    // Tab leaves the picker like any other field instead of stepping through year, month and day;
    // the arrow keys move between those.
    bool focusNextPrevChild(bool next) override;
};

} // namespace korvela
