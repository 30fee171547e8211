#include "office/libreoffice_word_processor_impl.h"

#include "office/libreoffice_failures.h"

#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <thread>

namespace korvela {

using namespace lo;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using namespace std::chrono_literals;

bool LibreOfficeWordProcessor::Impl::raiseBeforeClose(const Reference<XModel>& model)
{
    if (!events)
        return true;
    bool cancel = false;
    raisingBeforeClose = true;
    closing = model;
    events->documentBeforeClose(cancel);
    raisingBeforeClose = false;
    closing.clear();
    return !cancel;
}

Status LibreOfficeWordProcessor::Impl::closeReportNow()
{
    const Reference<XModel> model = report;
    report.clear();
    protectionPassword.reset();
    return closeDocumentOf(model);
}

void LibreOfficeWordProcessor::Impl::letShownWindowSettle() const
{
    std::this_thread::sleep_until(shownAt + 400ms);
}

Status LibreOfficeWordProcessor::Impl::closeDocumentOf(const Reference<XModel>& model)
{
    letShownWindowSettle();
    if (guards.is()) {
        try {
            const Reference<css::frame::XController> controller = model->getCurrentController();
            if (controller.is())
                guards->forget(controller->getFrame());
        } catch (const css::uno::RuntimeException&) {
        }
    }
    return closeModel(model);
}

Status LibreOfficeWordProcessor::Impl::closeModel(const Reference<XModel>& model)
{
    try {
        Reference<css::util::XCloseable> closeable(model, UNO_QUERY);
        if (closeable.is())
            closeable->close(true);
        else
            Reference<css::lang::XComponent>(model, UNO_QUERY_THROW)->dispose();
    } catch (const css::util::CloseVetoException&) {
        // Something in the office (a print job) holds the document; it must go all the same.
        try {
            Reference<css::lang::XComponent>(model, UNO_QUERY_THROW)->dispose();
        } catch (const css::uno::RuntimeException&) {
        }
    } catch (const css::lang::DisposedException&) {
        // Already closed.
    } catch (const css::uno::RuntimeException&) {
        return ended();
    }
    return {};
}

void LibreOfficeWordProcessor::Impl::onUserClose(const Reference<XFrame>& frame)
{
    Reference<XModel> model;
    try {
        const Reference<css::frame::XController> controller = frame->getController();
        if (controller.is())
            model = controller->getModel();
    } catch (const css::uno::RuntimeException&) {
        return;
    }
    if (!model.is())
        return;
    const bool isReport = report.is() && model == report;
    if (!raiseBeforeClose(model))
        return;
    if (isReport) {
        if (report.is())
            (void)closeReportNow();
    } else {
        (void)closeDocumentOf(model);
    }
}

void LibreOfficeWordProcessor::Impl::onUserSave(bool saveAs, const std::function<void()>& carryOut)
{
    bool cancel = false;
    if (events)
        events->documentBeforeSave(saveAs, cancel);
    if (!cancel) {
        try {
            carryOut();
        } catch (const css::uno::Exception&) {
            // The save the window allowed failed in the office, which tells the user itself.
        }
    }
}

void LibreOfficeWordProcessor::Impl::onOfficeEnded()
{
    if (quitting || !report.is())
        return;
    report.clear();
    protectionPassword.reset();
    (void)raiseBeforeClose({});
}

void LibreOfficeWordProcessor::Impl::forgetConnection()
{
    if (guards.is())
        guards->clear();
    report.clear();
    desktop.clear();
    context.clear();
    bridge.clear();
}

bool LibreOfficeWordProcessor::Impl::waitEnded(std::chrono::milliseconds grace)
{
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        if (launcher > 0 && reapChild(launcher))
            launcher = -1;
        if (launcher <= 0 && !processAlive(office))
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

} // namespace korvela
