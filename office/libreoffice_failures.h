#pragma once

// The word processor's failures, shared by the LibreOffice implementation's files.

#include "core/failure_codes.h"
#include "core/status.h"

#include <QString>

namespace korvela::lo {

inline Failure failure(int code, const QString& text)
{
    return Failure{code, text};
}

// The office's own messages are technical English: the user gets the Chinese sentence, and a
// word processor that has gone away meanwhile is said to have gone.
inline Failure failure(int code, const QString& text, bool officeGone)
{
    if (officeGone)
        return Failure{FailureCode::OfficeEnded, text + QStringLiteral("LibreOffice 已经结束。")};
    return Failure{code, text};
}

inline Failure ended()
{
    return failure(FailureCode::OfficeEnded, QStringLiteral("LibreOffice 已经结束。"));
}

} // namespace korvela::lo
