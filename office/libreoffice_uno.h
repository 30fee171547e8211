#pragma once

// Helpers shared by the LibreOffice implementation. Included only by office/libreoffice_*.cpp and
// the tests' office probe: the rest of the program never sees a UNO header.

#include <QString>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/uno/Any.hxx>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/Sequence.hxx>
#include <initializer_list>
#include <rtl/ustring.hxx>

namespace korvela::lo {

namespace css = ::com::sun::star;
using ::rtl::OUString;

// Both are UTF-16; the SDK's sal_Unicode is a 16-bit integer, Qt's a class of the same layout.
inline OUString toOU(const QString& s)
{
    return OUString(reinterpret_cast<const sal_Unicode*>(s.utf16()), static_cast<sal_Int32>(s.size()));
}

inline QString fromOU(const OUString& s)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(s.getStr()), s.getLength());
}

inline OUString ascii(const char* s)
{
    return OUString::createFromAscii(s);
}

inline css::beans::PropertyValue property(const char* name, const css::uno::Any& value)
{
    css::beans::PropertyValue p;
    p.Name = ascii(name);
    p.Value = value;
    return p;
}

inline css::uno::Sequence<css::beans::PropertyValue>
properties(std::initializer_list<css::beans::PropertyValue> list)
{
    return css::uno::Sequence<css::beans::PropertyValue>(list.begin(), static_cast<sal_Int32>(list.size()));
}

// A file URL as LibreOffice wants it, from a local path.
OUString fileUrl(const QString& path);

} // namespace korvela::lo
