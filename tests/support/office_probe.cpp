#include "support/office_probe.h"

#include "office/libreoffice_failures.h"
#include "office/libreoffice_uno.h"
#include "office/libreoffice_word_processor_impl.h"

#include <QStringList>
#include <atomic>
#include <chrono>
#include <com/sun/star/awt/XTopWindow2.hpp>
#include <com/sun/star/awt/XWindow2.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/frame/DispatchHelper.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionPassword2.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextFramesSupplier.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>
#include <thread>

namespace korvela::test {

using namespace lo;
using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using namespace std::chrono_literals;

namespace {

// Answers the office's question for the password that allows editing: once with the given
// password; a second question (the password was wrong) is declined, so the file opens read-only.
class PasswordAnswer : public cppu::WeakImplHelper1<css::task::XInteractionHandler>
{
public:
    explicit PasswordAnswer(QString password)
        : m_password(std::move(password))
    {
    }
    std::atomic<int> questions{0};

    void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override
    {
        const Sequence<Reference<css::task::XInteractionContinuation>> choices = request->getContinuations();
        const bool first = questions++ == 0;
        for (const auto& choice : choices) {
            Reference<css::task::XInteractionPassword2> password(choice, UNO_QUERY);
            if (first && password.is()) {
                password->setPasswordToModify(toOU(m_password));
                password->setRecommendReadOnly(false);
                password->select();
                return;
            }
        }
        for (const auto& choice : choices) {
            Reference<css::task::XInteractionAbort> abort(choice, UNO_QUERY);
            if (abort.is()) {
                abort->select();
                return;
            }
        }
    }

private:
    QString m_password;
};

void collectText(const Reference<css::text::XText>& text, QStringList& out)
{
    if (!text.is())
        return;
    Reference<css::container::XEnumerationAccess> access(text, UNO_QUERY);
    if (!access.is())
        return;
    const Reference<css::container::XEnumeration> paragraphs = access->createEnumeration();
    while (paragraphs->hasMoreElements()) {
        const Any element = paragraphs->nextElement();
        Reference<css::text::XTextTable> table(element, UNO_QUERY);
        if (table.is()) {
            for (const OUString& cell : table->getCellNames())
                collectText(Reference<css::text::XText>(table->getCellByName(cell), UNO_QUERY), out);
            continue;
        }
        Reference<css::text::XTextRange> paragraph(element, UNO_QUERY);
        if (paragraph.is())
            out << fromOU(paragraph->getString());
    }
}

} // namespace

Result<QString> OfficeProbe::documentText() const
{
    const auto& d = m_office.d;
    if (!d->report.is())
        return failure(FailureCode::NoOpenDocument, QStringLiteral("没有打开的报告文档。"));
    QStringList text;
    try {
        collectText(Reference<css::text::XTextDocument>(d->report, UNO_QUERY_THROW)->getText(), text);
        const Reference<css::container::XIndexAccess> frames(
            Reference<css::text::XTextFramesSupplier>(d->report, UNO_QUERY_THROW)->getTextFrames(),
            UNO_QUERY_THROW);
        for (sal_Int32 i = 0; i < frames->getCount(); ++i)
            collectText(Reference<css::text::XText>(frames->getByIndex(i), UNO_QUERY), text);
        const Reference<css::container::XNameAccess> pageStyles(
            Reference<css::style::XStyleFamiliesSupplier>(d->report, UNO_QUERY_THROW)
                ->getStyleFamilies()
                ->getByName(ascii("PageStyles")),
            UNO_QUERY_THROW);
        for (const OUString& name : pageStyles->getElementNames()) {
            const Reference<css::beans::XPropertySet> style(pageStyles->getByName(name), UNO_QUERY_THROW);
            for (const char* part : {"HeaderText", "FooterText"}) {
                const char* on = part[0] == 'H' ? "HeaderIsOn" : "FooterIsOn";
                bool isOn = false;
                style->getPropertyValue(ascii(on)) >>= isOn;
                if (isOn)
                    collectText(Reference<css::text::XText>(style->getPropertyValue(ascii(part)), UNO_QUERY),
                                text);
            }
        }
    } catch (const css::uno::Exception&) {
        return failure(FailureCode::DocumentNotFilled, QStringLiteral("无法读取报告文档。"), !m_office.isRunning());
    }
    return text.join(u'\n');
}

Status OfficeProbe::dispatchInDocumentWindow(const QString& command)
{
    const auto& d = m_office.d;
    if (!d->report.is())
        return failure(FailureCode::NoOpenDocument, QStringLiteral("没有打开的报告文档。"));
    try {
        const Reference<css::frame::XDispatchProvider> window(d->reportFrame(), UNO_QUERY_THROW);
        css::frame::DispatchHelper::create(d->context)
            ->executeDispatch(window, toOU(command), ascii("_self"), 0, {});
    } catch (const css::uno::Exception&) {
        return failure(FailureCode::OfficeWindowFailed, QStringLiteral("无法执行 %1。").arg(command),
                       !m_office.isRunning());
    }
    return {};
}

bool OfficeProbe::documentWindowVisible() const
{
    const auto& d = m_office.d;
    try {
        if (!d->report.is())
            return false;
        const Reference<css::awt::XWindow2> window(d->reportFrame()->getContainerWindow(), UNO_QUERY_THROW);
        return window->isVisible();
    } catch (const css::uno::Exception&) {
        return false;
    }
}

bool OfficeProbe::documentWindowMaximized() const
{
    const auto& d = m_office.d;
    try {
        if (!d->report.is())
            return false;
        const Reference<css::awt::XTopWindow2> window(d->reportFrame()->getContainerWindow(),
                                                      UNO_QUERY_THROW);
        return window->getIsMaximized();
    } catch (const css::uno::Exception&) {
        return false;
    }
}

Result<ReopenedFile> OfficeProbe::reopen(const QString& path, const std::optional<QString>& passwordToEdit)
{
    const auto& d = m_office.d;
    if (!m_office.isRunning())
        return ended();
    rtl::Reference<PasswordAnswer> answer(new PasswordAnswer(passwordToEdit.value_or(QString())));
    ReopenedFile result;
    Reference<css::frame::XModel> model;
    try {
        const Reference<css::frame::XComponentLoader> loader(d->desktop, UNO_QUERY_THROW);
        model.set(
            loader->loadComponentFromURL(
                fileUrl(path), ascii("_blank"), 0,
                properties({property("Hidden", Any(true)),
                            property("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)),
                            property("InteractionHandler",
                                     Any(Reference<css::task::XInteractionHandler>(answer.get())))})),
            UNO_QUERY_THROW);
        result.readOnly = Reference<css::frame::XStorable>(model, UNO_QUERY_THROW)->isReadonly();
        if (passwordToEdit && result.readOnly) {
            // "Edit Document" asks for the password through the document's interaction handler,
            // then loads the document again, editable, into the same window.
            const Reference<css::frame::XFrame> frame = model->getCurrentController()->getFrame();
            css::frame::DispatchHelper::create(d->context)
                ->executeDispatch(Reference<css::frame::XDispatchProvider>(frame, UNO_QUERY_THROW),
                                  ascii(".uno:EditDoc"), ascii("_self"), 0, {});
            const auto deadline = std::chrono::steady_clock::now() + 10s;
            Reference<css::frame::XModel> now = model;
            while (std::chrono::steady_clock::now() < deadline) {
                const Reference<css::frame::XController> controller = frame->getController();
                now = controller.is() ? controller->getModel() : Reference<css::frame::XModel>();
                // Editable now (reloaded, or the same document switched), or a wrong password
                // asked for again (and declined).
                if (now.is() &&
                    (now != model || !Reference<css::frame::XStorable>(now, UNO_QUERY_THROW)->isReadonly()))
                    break;
                if (answer->questions > 1)
                    break;
                std::this_thread::sleep_for(20ms);
            }
            if (now.is())
                model = now;
            result.editableAfterwards =
                !Reference<css::frame::XStorable>(model, UNO_QUERY_THROW)->isReadonly();
        }
        result.askedPasswordToEdit = answer->questions > 0;
    } catch (const css::uno::Exception&) {
        if (model.is())
            (void)d->closeDocumentOf(model);
        return failure(FailureCode::DocumentNotOpened, QStringLiteral("LibreOffice 无法打开 %1。").arg(path),
                       !m_office.isRunning());
    }
    (void)d->closeDocumentOf(model);
    return result;
}

qint64 OfficeProbe::officeProcessId() const
{
    return m_office.d->office;
}

} // namespace korvela::test
