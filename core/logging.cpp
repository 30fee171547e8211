#include "core/logging.h"

Q_LOGGING_CATEGORY(lcStart, "korvela.start")
Q_LOGGING_CATEGORY(lcStore, "korvela.store")
Q_LOGGING_CATEGORY(lcSearch, "korvela.search")
Q_LOGGING_CATEGORY(lcOffice, "korvela.office")

namespace korvela {

void logFailure(const QLoggingCategory& category, const QString& what, const Failure& failure)
{
    qCWarning(category).noquote() << what << u"(code" << failure.code << u"):" << failure.description;
}

} // namespace korvela
