#include "review/review_log.h"

Q_LOGGING_CATEGORY(lcReview, "korvela.review")
