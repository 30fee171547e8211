#pragma once

#include "core/status.h"

#include <QLoggingCategory>

// What an administrator reads to learn why a workstation refused to start or a command failed:
// every failure that reaches a message box, and every start-up refusal, with its detail. Qt
// writes them to the standard error, which the desktop session's journal keeps; a category can
// be silenced or widened with QT_LOGGING_RULES ("korvela.*.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcStart)  // korvela.start
Q_DECLARE_LOGGING_CATEGORY(lcStore)  // korvela.store
Q_DECLARE_LOGGING_CATEGORY(lcSearch) // korvela.search
Q_DECLARE_LOGGING_CATEGORY(lcOffice) // korvela.office

namespace korvela {

// "<what> (code <n>): <description>" in the category.
void logFailure(const QLoggingCategory& category, const QString& what, const Failure& failure);

} // namespace korvela
