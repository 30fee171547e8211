#pragma once

// The word processor's failures, shared by the LibreOffice implementation's files.

#include "core/failure_codes.h"
#include "core/status.h"

#include <QString>

namespace korvela::lo {

// The word processor's failure codes, as the program's list names them; the descriptions say
// what the user can do about them.
enum Code {
    kNotInstalled = FailureCode::OfficeNotInstalled,
    kNotStarted = FailureCode::OfficeNotStarted,
    kEnded = FailureCode::OfficeEnded,
    kNoDocument = FailureCode::NoOpenDocument,
    kOpenFailed = FailureCode::DocumentNotOpened,
    kFillFailed = FailureCode::DocumentNotFilled,
    kSaveFailed = FailureCode::DocumentNotSaved,
    kSaveCancelled = FailureCode::SaveRefused,
    kCloseCancelled = FailureCode::CloseCancelled,
    kWindowFailed = FailureCode::OfficeWindowFailed,
    kOptionsFailed = FailureCode::OfficeOptionsFailed,
};

inline Failure failure(Code code, const QString& text)
{
    return Failure{code, text};
}

// The office's own messages are technical English: the user gets the Chinese sentence, and a
// word processor that has gone away meanwhile is said to have gone.
inline Failure failure(Code code, const QString& text, bool officeGone)
{
    if (officeGone)
        return Failure{kEnded, text + QStringLiteral("LibreOffice 已经结束。")};
    return Failure{code, text};
}

inline Failure ended()
{
    return failure(kEnded, QStringLiteral("LibreOffice 已经结束。"));
}

} // namespace korvela::lo
