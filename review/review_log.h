#pragma once

#include <QLoggingCategory>

// The review program's failures (reading the reports, writing files, printing), with their detail.
Q_DECLARE_LOGGING_CATEGORY(lcReview) // korvela.review
