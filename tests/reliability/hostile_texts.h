#pragma once

#include <QString>
#include <QStringList>

namespace korvela::test {

// Texts a user can paste into any box: quotes and wildcards, path pieces, control characters,
// characters outside the Basic Multilingual Plane, right-to-left marks, a text too long for a file name, and a very long text.
inline QStringList hostileTexts()
{
    return {
        QStringLiteral("O'Brien \"甲\""),
        QStringLiteral("100%_完成"),
        QStringLiteral("C:\\报告\\..\\x"),
        QStringLiteral("../../etc/passwd"),
        QStringLiteral("列1\t列2"),
        QStringLiteral("第一行\n第二行\r\n第三行"),
        QStringLiteral("𠀀𠀁𪚥 😀👩‍⚕️"),
        QStringLiteral("\u200Fשלום\u202E王\u202C"),
        QStringLiteral("'); DROP TABLE A; --"),
        QStringLiteral("  前后空格  "),
        QString(300, QChar(u'编')), // longer than a file name may be
        QString(1 << 20, QChar(u'长')),
    };
}

// A text short enough to name in a failure message.
inline QString shortName(const QString& s)
{
    return s.size() > 40 ? QStringLiteral("<%1 characters>").arg(s.size()) : s;
}

} // namespace korvela::test
