#pragma once

// The state of a LibreOfficeWordProcessor: its office process, the UNO connection into it and the
// report document, with the handling of the closes and saves the office's window asks for.
// Included by the word processor's own files and by the tests' office probe, which reads this
// state; the rest of the program never sees it.

#include "office/libreoffice_listeners.h"
#include "office/libreoffice_process.h"
#include "office/libreoffice_uno.h"
#include "office/libreoffice_word_processor.h"

#include <QObject>
#include <chrono>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <rtl/ref.hxx>
#include <sys/types.h>

namespace korvela {

struct LibreOfficeWordProcessor::Impl
{
    template <typename T>
    using Reference = lo::Reference<T>;
    using XModel = lo::css::frame::XModel;
    using XFrame = lo::css::frame::XFrame;

    LibreOfficeSettings settings;
    lo::OfficeCommand command;
    pid_t launcher = -1;
    pid_t office = -1;
    bool quitting = false;
    std::future<void> bootstrap;
    std::chrono::steady_clock::time_point shownAt{};

    QObject receiver;
    std::shared_ptr<lo::OfficeInbox> inbox = std::make_shared<lo::OfficeInbox>(&receiver);
    Reference<lo::css::bridge::XBridge> bridge;
    Reference<lo::css::uno::XComponentContext> context;
    Reference<lo::css::frame::XDesktop2> desktop;
    rtl::Reference<lo::TerminationVeto> veto;
    rtl::Reference<lo::ConnectionWatch> watch;
    rtl::Reference<lo::WindowGuards> guards;

    WordProcessorEvents* events = nullptr;
    Reference<XModel> report;
    std::optional<QString> protectionPassword;
    // Set while a before-close event runs, to the document whose close raised it.
    bool raisingBeforeClose = false;
    Reference<XModel> closing;

    bool connected() const { return context.is() && watch.is() && !watch->ended; }

    Reference<XFrame> reportFrame() const
    {
        const Reference<lo::css::frame::XController> controller = report->getCurrentController();
        return controller.is() ? controller->getFrame() : Reference<XFrame>();
    }

    // Runs the window's before-close handler for the closing of `model`. True when it lets the
    // close go ahead.
    bool raiseBeforeClose(const Reference<XModel>& model);

    Status closeReportNow();

    // A window the office has just shown receives its focus from the window manager a moment
    // later; a document closed before the office has handled that focus crashes it. Closes wait
    // for that moment to pass (only ever right after a showing).
    void letShownWindowSettle() const;

    // Closes a document of the instance and forgets its window's guard.
    Status closeDocumentOf(const Reference<XModel>& model);

    static Status closeModel(const Reference<XModel>& model);

    // A close asked for in the office's window: the window's handler decides and, for the report,
    // closes it; any other document is closed here after it.
    void onUserClose(const Reference<XFrame>& frame);

    void onUserSave(bool saveAs, const std::function<void()>& carryOut);

    // The office went away under the program: a report it showed is gone, which the window
    // handles as the close of that report.
    void onOfficeEnded();

    // Drops the references into the office. The connection is never disposed from here: it ends
    // by itself when the office does, and disposing it while it ends can hang.
    void forgetConnection();

    // Waits until the launcher and the office have ended, up to `grace`.
    bool waitEnded(std::chrono::milliseconds grace);
};

} // namespace korvela
