#pragma once

#include "core/prompts.h"
#include "review/review_worker.h"

#include <QDate>
#include <QString>
#include <functional>

class QWidget;

namespace korvela {

// What the review window is given: the store (opened on its worker's thread), the prompts, the
// day it counts from and the question where to save a file.
struct ReviewServices
{
    StoreOpener openStore;
    Prompts& prompts;
    std::function<QDate()> today = [] { return QDate::currentDate(); };
    // The path chosen to save a file as, or empty when the user cancelled.
    std::function<QString(QWidget* parent, const QString& caption, const QString& suggested,
                          const QString& filter)>
        saveFileName = {};
};

} // namespace korvela
