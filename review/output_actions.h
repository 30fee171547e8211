#pragma once

#include "review/review_output.h"
#include "review/review_services.h"

#include <QString>

class QAbstractItemModel;
class QWidget;

namespace korvela {

// Each asks what it needs (where to save, which printer), writes, and gives the line to show in
// the window's status bar; a failure is also shown in a message box. Large outputs are asked
// about first. Nothing is written when the user cancels.
QString exportCsv(ReviewServices& services, const QAbstractItemModel& table, const QString& suggestedName);
QString exportPdf(QWidget* parent, ReviewServices& services, const ReviewDocument& document,
                  const QString& suggestedName);
QString printDocument(QWidget* parent, ReviewServices& services, const ReviewDocument& document);

// "2024-12-20 09:30"
QString madeAtNote();

} // namespace korvela
