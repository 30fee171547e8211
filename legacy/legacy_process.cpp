#include "legacy/legacy_process.h"

#include "core/failure_codes.h"

#include <csignal>
#include <cstring>
#include <string>
#include <sys/prctl.h>

namespace korvela::legacy {

namespace {

enum Tag : char { Opened = 'O', Report = 'R', End = 'E', Fail = 'F' };
enum ValueTag : char { NullValue = 0, IntegerValue = 1, TextValue = 2 };

template <typename T>
void put(std::string& out, T value)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T)); // the machine's order: both ends are this machine
    out.append(bytes, sizeof(T));
}

void putText(std::string& out, const QString& text)
{
    put(out, std::uint32_t(text.size()));
    out.append(reinterpret_cast<const char*>(text.utf16()), std::size_t(text.size()) * 2);
}

void send(std::FILE* out, const std::string& frame)
{
    std::fwrite(frame.data(), 1, frame.size(), out);
}

int sendFailure(std::FILE* out, const Failure& failure)
{
    std::string frame(1, Fail);
    put(frame, std::int32_t(failure.code));
    putText(frame, failure.description);
    send(out, frame);
    std::fflush(out);
    return 1;
}

} // namespace

int serveLegacyReader(const QString& file, const QString& codePage, std::FILE* out)
{
    static char buffer[1 << 16]; // the frames leave in pieces of this size rather than the pipe's
    std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
    LegacyReader reader;
    if (Status s = reader.open(file, codePage); !s)
        return sendFailure(out, s.failure());
    std::string frame(1, Opened);
    put(frame, std::uint8_t(reader.jetVersion()));
    put(frame, std::int64_t(reader.declaredCount()));
    send(out, frame);
    LegacyReport report;
    for (;;) {
        Result<bool> next = reader.next(report);
        if (!next)
            return sendFailure(out, next.failure());
        if (!*next)
            break;
        frame.assign(1, Report);
        put(frame, std::int64_t(report.ordinal));
        putText(frame, report.problem);
        put(frame, std::uint32_t(report.values.size()));
        for (const Value& v : report.values) {
            if (const auto* i = std::get_if<std::int64_t>(&v)) {
                frame += IntegerValue;
                put(frame, *i);
            } else if (const auto* t = std::get_if<QString>(&v)) {
                frame += TextValue;
                putText(frame, *t);
            } else {
                frame += NullValue;
            }
        }
        send(out, frame);
    }
    send(out, std::string(1, End));
    std::fflush(out);
    return std::ferror(out) ? 1 : 0;
}

LegacyProcess::LegacyProcess() = default;

LegacyProcess::~LegacyProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

Status LegacyProcess::start(const QStringList& command, const QString& file, const QString& codePage,
                            std::chrono::milliseconds timeout)
{
    m_file = file;
    m_timeout = timeout;
    QStringList arguments = command.mid(1);
    arguments << file << codePage;
    // libmdb's own remarks are in English and for its developers; the import says what matters.
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.setReadChannel(QProcess::StandardOutput);
    // The reader never outlives the import, even one killed outright.
    m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process.start(command.value(0), arguments, QIODevice::ReadOnly);
    if (!m_process.waitForStarted(int(timeout.count())))
        return Failure{FailureCode::LegacyReaderFailed,
                       QStringLiteral("无法启动读取旧数据库的进程 %1（%2）。").arg(command.value(0), m_process.errorString())};
    LegacyReport unused;
    if (!need(1))
        return *m_failure;
    const char tag = m_buffer[m_at];
    if (tag == Fail) {
        Result<bool> r = next(unused);
        return r ? Status(readerFailure()) : Status(r.failure());
    }
    if (tag != Opened || !need(1 + 1 + 8))
        return m_failure ? *m_failure : readerFailure();
    m_version = std::uint8_t(m_buffer[m_at + 1]);
    std::memcpy(&m_declared, m_buffer.constData() + m_at + 2, 8);
    m_at += 1 + 1 + 8;
    return {};
}

bool LegacyProcess::need(qsizetype bytes)
{
    while (m_buffer.size() - m_at < bytes) {
        if (m_at > (qsizetype(1) << 20)) {
            m_buffer.remove(0, m_at);
            m_at = 0;
        }
        if (m_process.bytesAvailable() > 0) {
            m_buffer += m_process.readAll();
            continue;
        }
        if (m_process.state() == QProcess::NotRunning || !m_process.waitForReadyRead(int(m_timeout.count()))) {
            if (m_process.bytesAvailable() > 0)
                continue;
            if (m_process.state() != QProcess::NotRunning) {
                m_process.kill();
                m_process.waitForFinished(5000);
                m_failure = Failure{
                    FailureCode::LegacyReaderFailed,
                    QStringLiteral("读取旧数据库 %1 时超过 %2 秒没有进展，已中止读取，未导入任何报告。文件很可能已损坏："
                                   "请在旧电脑上用 Access 的“压缩和修复数据库”修复后重新复制。")
                        .arg(m_file, QString::number(m_timeout.count() / 1000.0))};
                return false;
            }
            m_failure = readerFailure();
            return false;
        }
    }
    return true;
}

Failure LegacyProcess::readerFailure() const
{
    QString how;
    if (m_process.exitStatus() == QProcess::CrashExit)
        how = m_process.exitCode() > 0 ? QStringLiteral("读取进程异常终止（信号 %1）").arg(m_process.exitCode())
                                       : QStringLiteral("读取进程异常终止");
    else if (m_process.exitCode() != 0)
        how = QStringLiteral("读取进程以状态 %1 退出").arg(m_process.exitCode());
    else
        how = QStringLiteral("读取进程没有读完就结束了");
    return {FailureCode::LegacyReaderFailed,
            QStringLiteral("读取旧数据库 %1 时出错（%2），未导入任何报告。文件很可能已损坏：请在旧电脑上用 Access 的"
                           "“压缩和修复数据库”修复后重新复制。")
                .arg(m_file, how)};
}

Result<bool> LegacyProcess::next(LegacyReport& report)
{
    if (m_failure)
        return *m_failure;
    if (m_ended)
        return false;
    qsizetype at = 0; // within the frame
    const auto take = [&](void* to, qsizetype bytes) {
        if (!need(at + bytes))
            return false;
        std::memcpy(to, m_buffer.constData() + m_at + at, std::size_t(bytes));
        at += bytes;
        return true;
    };
    const auto takeText = [&](QString& text) {
        std::uint32_t units = 0;
        if (!take(&units, 4))
            return false;
        if (units > (1u << 30)) {
            m_failure = readerFailure();
            return false;
        }
        text.resize(qsizetype(units));
        return take(text.data(), qsizetype(units) * 2);
    };
    char tag = 0;
    if (!take(&tag, 1))
        return *m_failure;
    switch (tag) {
    case End:
        m_at += at;
        m_ended = true;
        return false;
    case Fail: {
        std::int32_t code = 0;
        QString description;
        if (!take(&code, 4) || !takeText(description))
            return *m_failure;
        m_failure = Failure{code, description};
        return *m_failure;
    }
    case Report: {
        std::uint32_t count = 0;
        if (!take(&report.ordinal, 8) || !takeText(report.problem) || !take(&count, 4))
            return *m_failure;
        if (count > 1024) {
            m_failure = readerFailure();
            return *m_failure;
        }
        report.values.resize(count);
        for (Value& v : report.values) {
            char valueTag = 0;
            if (!take(&valueTag, 1))
                return *m_failure;
            if (valueTag == IntegerValue) {
                std::int64_t i = 0;
                if (!take(&i, 8))
                    return *m_failure;
                v = i;
            } else if (valueTag == TextValue) {
                QString text;
                if (!takeText(text))
                    return *m_failure;
                v = std::move(text);
            } else if (valueTag == NullValue) {
                v = std::monostate{};
            } else {
                m_failure = readerFailure();
                return *m_failure;
            }
        }
        m_at += at;
        return true;
    }
    default:
        m_failure = readerFailure();
        return *m_failure;
    }
}

} // namespace korvela::legacy
