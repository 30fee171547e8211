#pragma once

#include <QByteArray>
#include <QStringList>
#include <QtGlobal>

namespace korvela::test {

// The warnings of the korvela.* categories while it lives.
class LogCapture
{
public:
    LogCapture() { s_lines.clear(), m_previous = qInstallMessageHandler(&LogCapture::handle); }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    QString text() const { return s_lines.join(u'\n'); }
    const QStringList& lines() const { return s_lines; }

private:
    static void handle(QtMsgType, const QMessageLogContext& context, const QString& message)
    {
        if (context.category && QByteArray(context.category).startsWith("korvela."))
            s_lines << QString::fromLatin1(context.category) + u": " + message;
    }
    static inline QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace korvela::test
