#pragma once

#include "admin/move_to_server.h"

#include <QElapsedTimer>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace korvela::admin {

// The progress of a move on a stream: on a terminal one bar redrawn in place; elsewhere (a log,
// a pipe) a plain line at every tenth, so a log stays short and readable.
class ProgressDisplay
{
public:
    explicit ProgressDisplay(std::FILE* out);
    ~ProgressDisplay();

    void show(MovePhase phase, std::int64_t done, std::int64_t total);
    // Ends the bar's line, so what follows starts on a line of its own.
    void finish();

private:
    std::FILE* m_out;
    bool m_terminal;
    std::optional<MovePhase> m_phase;
    int m_percent = -1;
    QElapsedTimer m_drawn;
};

} // namespace korvela::admin
