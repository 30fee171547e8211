#include "office/libreoffice_placeholders.h"

#include <QHash>
#include <QStringList>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/document/XActionLockable.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/XSearchable.hpp>
#include <vector>

namespace korvela::lo {

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

// Holds the document's layout and views still while many edits are made: Writer then formats
// the changed paragraphs once at the end instead of after every edit, which long values would
// otherwise make slow.
class EditBatch
{
public:
    explicit EditBatch(const Reference<css::frame::XModel>& model)
        : m_model(model)
        , m_actions(model, UNO_QUERY)
    {
        m_model->lockControllers();
        if (m_actions.is())
            m_actions->addActionLock();
    }
    ~EditBatch()
    {
        try {
            if (m_actions.is())
                m_actions->removeActionLock();
            m_model->unlockControllers();
        } catch (const css::uno::RuntimeException&) {
            // The office went away meanwhile; the caller finds out from its own call.
        }
    }
    EditBatch(const EditBatch&) = delete;
    EditBatch& operator=(const EditBatch&) = delete;

private:
    Reference<css::frame::XModel> m_model;
    Reference<css::document::XActionLockable> m_actions;
};

// Text safe to put into a document literally: line ends as the office's line break (a carriage
// return would split the paragraph in a stored Word file), and no other control character,
// which Word files use as field and cell marks.
OUString literalText(const QString& value)
{
    QString text = value;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    text.removeIf([](QChar c) { return c.unicode() < 0x20 && c != u'\n' && c != u'\t'; });
    return toOU(text);
}

// The placeholders as one regular expression, each taken literally. "<" and ">" stay as they
// are: escaped, LibreOffice reads them as word boundaries.
OUString placeholderPattern(const PlaceholderValues& values)
{
    QStringList alternatives;
    for (const auto& [placeholder, value] : values) {
        QString escaped;
        for (QChar c : placeholder) {
            if (QStringView(u"\\^$.|?*+()[]{}").contains(c))
                escaped += u'\\';
            escaped += c;
        }
        alternatives << escaped;
    }
    return toOU(alternatives.join(u'|'));
}

} // namespace

void fillPlaceholders(const Reference<css::frame::XModel>& document, const PlaceholderValues& values)
{
    QHash<QString, OUString> replacement;
    for (const auto& [placeholder, value] : values)
        replacement.insert(placeholder.toCaseFolded(), literalText(value));
    const EditBatch batch(document);
    const Reference<css::util::XSearchable> searchable(document, UNO_QUERY_THROW);
    const Reference<css::util::XSearchDescriptor> search = searchable->createSearchDescriptor();
    search->setSearchString(placeholderPattern(values));
    const Reference<css::beans::XPropertySet> options(search, UNO_QUERY_THROW);
    options->setPropertyValue(ascii("SearchRegularExpression"), Any(true));
    options->setPropertyValue(ascii("SearchCaseSensitive"), Any(false));
    options->setPropertyValue(ascii("SearchWords"), Any(false));
    options->setPropertyValue(ascii("SearchSimilarity"), Any(false));
    const Reference<css::container::XIndexAccess> found = searchable->findAll(search);
    const sal_Int32 count = found.is() ? found->getCount() : 0;
    std::vector<Reference<css::text::XTextRange>> ranges;
    ranges.reserve(static_cast<std::size_t>(count));
    for (sal_Int32 i = 0; i < count; ++i)
        ranges.emplace_back(found->getByIndex(i), UNO_QUERY);
    for (const auto& range : ranges) {
        if (!range.is())
            continue;
        const auto value = replacement.constFind(fromOU(range->getString()).toCaseFolded());
        if (value != replacement.constEnd())
            range->setString(*value);
    }
}

} // namespace korvela::lo
