#pragma once

#include "core/file_chooser.h"
#include "core/prompts.h"
#include "review/review_worker.h"

#include <QDate>
#include <functional>

namespace korvela {

// What the review window is given: the store (opened on its worker's thread), the prompts, the
// question where to save a file and the day it counts from.
struct ReviewServices
{
    StoreOpener openStore;
    Prompts& prompts;
    FileChooser& files;
    std::function<QDate()> today = [] { return QDate::currentDate(); };
};

} // namespace korvela
