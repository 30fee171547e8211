#include "admin/progress.h"

#include <QString>
#include <unistd.h>

namespace korvela::admin {

namespace {

QString phaseName(MovePhase phase)
{
    switch (phase) {
    case MovePhase::Checking:
        return QStringLiteral("检查报告");
    case MovePhase::Copying:
        return QStringLiteral("复制报告");
    case MovePhase::Verifying:
        return QStringLiteral("核对服务器上的副本");
    }
    return {};
}

void write(std::FILE* out, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), out);
    std::fflush(out);
}

} // namespace

ProgressDisplay::ProgressDisplay(std::FILE* out)
    : m_out(out)
    , m_terminal(isatty(fileno(out)) == 1)
{
}

ProgressDisplay::~ProgressDisplay()
{
    finish();
}

void ProgressDisplay::show(MovePhase phase, std::int64_t done, std::int64_t total)
{
    const int percent = total > 0 ? int(done * 100 / total) : 100;
    const bool newPhase = m_phase != phase;
    if (newPhase) {
        finish();
        m_phase = phase;
        m_percent = -1;
    }
    if (phase == MovePhase::Verifying) {
        if (newPhase)
            write(m_out, QStringLiteral("正在%1……").arg(phaseName(phase)) +
                             (m_terminal ? QString() : QStringLiteral("\n")));
        return;
    }
    if (m_terminal) {
        // Redrawn when the percentage moves, at most every tenth of a second otherwise.
        if (percent == m_percent && m_drawn.isValid() && m_drawn.elapsed() < 100 && done != total)
            return;
        constexpr int width = 30;
        const int filled = percent * width / 100;
        write(m_out, QStringLiteral("\r%1 [%2%3] %4%  %5/%6")
                         .arg(phaseName(phase), QString(filled, u'#'), QString(width - filled, u'.'),
                              QString::number(percent).rightJustified(3), QString::number(done),
                              QString::number(total)));
        m_drawn.start();
    } else {
        if (percent / 10 == m_percent / 10 && m_percent >= 0)
            return;
        write(m_out, QStringLiteral("%1：%2%（%3/%4）\n")
                         .arg(phaseName(phase), QString::number(percent / 10 * 10), QString::number(done),
                              QString::number(total)));
    }
    m_percent = percent;
}

void ProgressDisplay::finish()
{
    if (m_terminal && m_phase)
        write(m_out, QStringLiteral("\n"));
    m_phase.reset();
}

} // namespace korvela::admin
