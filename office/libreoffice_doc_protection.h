#pragma once

#include "core/status.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace korvela::lo {

// The 32-bit key of a legacy Word password as LibreOffice computes it when it checks the password
// that lifts a read-only protection. It differs from the published Word algorithm in its low
// word; LibreOffice is the word processor the department reads reports with, so its key is written.
// Consequence: Word shows such a file read-only too, but does not accept the password to lift it.
std::uint32_t libreOfficePasswordKey(const QString& password);

// The protection fields of a Word 97-2003 file.
struct DocProtection
{
    bool readOnlyLock = false;       // fLockAtn: with the next flag, "reading only"
    bool lockMeansReadOnly = false;  // fTreatLockAtnAsReadOnly
    bool enforced = false;           // fEnforceDocProt
    int kind = 0;                    // iDocProtCur: 3 is "reading only"
    bool formsProtection = false;    // fProtEnabled
    std::uint32_t key = 0;           // lKeyProtDoc
    std::uint32_t dopSize = 0;       // lcbDop
    std::uint16_t fibNewVersion = 0; // nFibNew, 0 when absent
};

Result<DocProtection> readDocProtection(const QByteArray& file);

// Marks a Word 97-2003 file written by LibreOffice as protected for reading only, lifted by
// `password`. The file is patched in memory: no byte moves, its size does not change.
Result<QByteArray> protectDocReadOnly(QByteArray file, const QString& password);

// The same on a file on disk, rewritten in place.
Status protectDocFileReadOnly(const QString& path, const QString& password);

} // namespace korvela::lo
