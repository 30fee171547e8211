#include "core/database.h"

namespace korvela {

QString valueToText(const Value& v)
{
    if (const auto* i = std::get_if<std::int64_t>(&v))
        return QString::number(*i);
    if (const auto* d = std::get_if<double>(&v))
        return QString::number(*d, 'g', 15);
    if (const auto* s = std::get_if<QString>(&v))
        return *s;
    return {};
}

} // namespace korvela
