#pragma once

#include "core/file_chooser.h"
#include "core/prompts.h"
#include "review/review_worker.h"

#include <QDate>
#include <functional>

namespace korvela {

// What the review window is given: the store (opened read-only on its worker's thread), the store
// opened for writing (only for 恢复此版本, a connection for that one save), the prompts, the
// question where to save a file and the day it counts from.
struct ReviewServices
{
    StoreOpener openStore;
    StoreOpener openWritableStore;
    Prompts& prompts;
    FileChooser& files;
    std::function<QDate()> today = [] { return QDate::currentDate(); };
};

} // namespace korvela
