#pragma once

#include "legacy/legacy_reader.h"
#include "core/status.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace korvela::legacy {

// The old database is read in a process of its own, which streams the decoded reports to the
// importing one over a pipe: libmdb trusts what the file says, so a damaged file may make it crash
// or loop, and that must end in a message, never in a crash of the import or a half-made store.
//
// The stream is a sequence of frames, each a tag byte and its fields (integers little-endian,
// texts as a 32-bit count of UTF-16 units and the units):
//   'O' the file is open: the Jet version (1 byte), the reports the table declares (8 bytes)
//   'R' a report: its ordinal (8 bytes), its problem (text), its values (a count, 4 bytes; each a
//       tag byte, 0 null, 1 an integer of 8 bytes, 2 a text)
//   'E' the end, after the last report
//   'F' a failure: its code (4 bytes) and description (text); nothing follows
// Nothing else is ever written to the stream, so what ends early or holds anything else tells a
// reader that did not finish its work.

// The reading process's side: opens `file`, writes its frames to `out`. Gives 0 when the reading
// ended with 'E', 1 after an 'F'.
int serveLegacyReader(const QString& file, const QString& codePage, std::FILE* out);

// The importing side: starts the reading process and reads its frames.
class LegacyProcess
{
public:
    LegacyProcess();
    ~LegacyProcess(); // ends the reading process when it still runs

    // Starts `command` (the program, then its first arguments) with the file and the code page
    // appended, and waits for the file to be open. `timeout`: the longest the reading process may
    // go without a word before it counts as hung and is ended.
    Status start(const QStringList& command, const QString& file, const QString& codePage,
                 std::chrono::milliseconds timeout);

    int jetVersion() const { return m_version; }
    std::int64_t declaredCount() const { return m_declared; }

    // The next report as LegacyReader::next() gives it; a failure also when the reading process
    // crashed, hung or ended without its last frame.
    Result<bool> next(LegacyReport& report);

private:
    // Waits until `bytes` bytes of the stream are there; false (with the failure set) when the
    // process ended or hung first.
    bool need(qsizetype bytes);
    Failure readerFailure() const;

    QProcess m_process;
    QString m_file;
    std::chrono::milliseconds m_timeout{0};
    QByteArray m_buffer;
    qsizetype m_at = 0;
    std::optional<Failure> m_failure;
    bool m_ended = false;
    int m_version = 0;
    std::int64_t m_declared = 0;
};

} // namespace korvela::legacy
