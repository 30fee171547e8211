#include "admin/subcommand.h"

namespace korvela::admin {

void print(std::FILE* to, const QString& text)
{
    const QByteArray bytes = (text + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), to);
    std::fflush(to);
}

int failed(std::FILE* err, const Failure& failure)
{
    print(err, QStringLiteral("错误：%1").arg(failure.description));
    return kExitFailed;
}

Failure usageError(const QString& text)
{
    return {0, text};
}

bool isHelp(const QString& argument)
{
    return argument == u"--help" || argument == u"-h";
}

std::optional<QString> optionValue(const QStringList& arguments, qsizetype& i)
{
    if (const qsizetype equals = arguments[i].indexOf(u'='); equals >= 0)
        return arguments[i].mid(equals + 1);
    if (i + 1 >= arguments.size())
        return std::nullopt;
    return arguments[++i];
}

} // namespace korvela::admin
