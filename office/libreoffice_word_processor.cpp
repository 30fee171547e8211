#include "office/libreoffice_word_processor.h"

#include "core/program_folder.h"
#include "office/libreoffice_doc_protection.h"
#include "office/libreoffice_failures.h"
#include "office/libreoffice_listeners.h"
#include "office/libreoffice_placeholders.h"
#include "office/libreoffice_process.h"
#include "office/libreoffice_uno.h"
#include "office/libreoffice_word_processor_impl.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <com/sun/star/awt/XTopWindow2.hpp>
#include <com/sun/star/awt/XWindow2.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameReplace.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XDocumentEventBroadcaster.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XFrames.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/frame/theGlobalEventBroadcaster.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextViewCursor.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>
#include <com/sun/star/util/XChangesBatch.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cstring>
#include <mutex>
#include <osl/file.hxx>
#include <rtl/bootstrap.hxx>
#include <signal.h>
#include <thread>

namespace korvela {

using namespace lo;
using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using namespace std::chrono_literals;

OUString lo::fileUrl(const QString& path)
{
    OUString url;
    osl::FileBase::getFileURLFromSystemPath(toOU(QFileInfo(path).absoluteFilePath()), url);
    return url;
}

namespace {

// The in-process UNO runtime with the office's type library, which the connection needs to pass
// the office's calls. Made once: the type library does not change while the program runs.
Reference<css::uno::XComponentContext> localContext()
{
    static std::once_flag once;
    static Reference<css::uno::XComponentContext> context;
    std::call_once(once, [] {
        try {
            rtl::Bootstrap::set(ascii("URE_BOOTSTRAP"),
                                ascii("vnd.sun.star.pathname:" KORVELA_LO_PROGRAM_DIR "/fundamentalrc"));
            context = cppu::defaultBootstrap_InitialComponentContext(
                ascii("file://" KORVELA_LO_PROGRAM_DIR "/unorc"));
        } catch (const css::uno::Exception&) {
            context.clear();
        }
    });
    return context;
}

} // namespace

LibreOfficeWordProcessor::LibreOfficeWordProcessor(LibreOfficeSettings settings)
    : d(std::make_unique<Impl>())
{
    d->settings = std::move(settings);
    d->command.soffice = d->settings.soffice;
    d->command.profileFolder = QDir::cleanPath(QDir(d->settings.profileFolder).absolutePath());
    d->command.pipeName = pipeNameFor(d->command.profileFolder);
    d->inbox->userClose = [impl = d.get()](const Reference<css::frame::XFrame>& frame) {
        impl->onUserClose(frame);
    };
    d->inbox->userSave = [impl = d.get()](bool saveAs, std::function<void()> carryOut) {
        impl->onUserSave(saveAs, carryOut);
    };
    d->inbox->officeEnded = [impl = d.get()] { impl->onOfficeEnded(); };
}

LibreOfficeWordProcessor::~LibreOfficeWordProcessor()
{
    d->inbox->close();
    d->events = nullptr;
    (void)quit();
}

QString LibreOfficeWordProcessor::defaultProfileFolder(const QString& programFolder)
{
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        data = QDir::homePath() + u"/.local/share";
    return data + u"/korvela/office-" + programFolderKey(programFolder);
}

Status LibreOfficeWordProcessor::launch()
{
    if (d->launcher > 0 || d->connected())
        return {};
    if (!QFileInfo(d->command.soffice).isExecutable())
        return failure(FailureCode::OfficeNotInstalled,
                       QStringLiteral("没有找到 LibreOffice（%1），请安装 libreoffice-writer。")
                           .arg(d->command.soffice));
    // A new office on the profile of a leftover one would hand its work to it and end.
    endInstances(d->command, 3s);
    if (!QDir().mkpath(d->command.profileFolder) || !seedProfile(d->command.profileFolder))
        return failure(
            FailureCode::OfficeNotStarted,
            QStringLiteral("无法建立 LibreOffice 的配置文件夹 %1。").arg(d->command.profileFolder));
    d->launcher = spawnOffice(d->command, d->command.profileFolder + u"/soffice.log");
    if (d->launcher <= 0)
        return failure(
            FailureCode::OfficeNotStarted,
            QStringLiteral("无法启动 LibreOffice：%1").arg(QString::fromLocal8Bit(strerror(errno))));
    // The program's side of the connection is readied on the other core while the office boots.
    if (!d->bootstrap.valid())
        d->bootstrap = std::async(std::launch::async, [] { (void)localContext(); });
    return {};
}

Status LibreOfficeWordProcessor::start(WordProcessorEvents* events)
{
    d->events = events;
    if (d->connected())
        return {};
    if (Status launched = launch(); !launched)
        return launched;
    if (d->bootstrap.valid())
        d->bootstrap.wait();
    const Reference<css::uno::XComponentContext> local = localContext();
    if (!local.is())
        return failure(FailureCode::OfficeNotStarted, QStringLiteral("LibreOffice 的程序库无法加载。"));
    try {
        const Reference<css::connection::XConnector> connector = css::connection::Connector::create(local);
        const OUString address = toOU(u"pipe,name=" + d->command.pipeName);
        const auto deadline = std::chrono::steady_clock::now() + d->settings.startTimeout;
        Reference<css::connection::XConnection> connection;
        while (!connection.is()) {
            try {
                connection = connector->connect(address);
            } catch (const css::connection::NoConnectException&) {
                if (reapChild(d->launcher)) {
                    d->launcher = -1;
                    return failure(FailureCode::OfficeNotStarted, QStringLiteral("LibreOffice 启动后立即结束了，详见 %1。")
                                                    .arg(d->command.profileFolder + u"/soffice.log"));
                }
                if (std::chrono::steady_clock::now() > deadline)
                    return failure(FailureCode::OfficeNotStarted, QStringLiteral("LibreOffice 没有在规定时间内启动。"));
                std::this_thread::sleep_for(5ms);
            }
        }
        d->bridge = css::bridge::BridgeFactory::create(local)->createBridge(OUString(), ascii("urp"),
                                                                            connection, nullptr);
        d->watch = new ConnectionWatch(d->inbox);
        Reference<css::lang::XComponent>(d->bridge, UNO_QUERY_THROW)
            ->addEventListener(Reference<css::lang::XEventListener>(d->watch.get()));
        d->context.set(d->bridge->getInstance(ascii("StarOffice.ComponentContext")), UNO_QUERY_THROW);
        d->desktop = css::frame::Desktop::create(d->context);
        d->veto = new TerminationVeto;
        d->desktop->addTerminateListener(Reference<css::frame::XTerminateListener>(d->veto.get()));
        d->guards = new WindowGuards(d->inbox);
        Reference<css::document::XDocumentEventBroadcaster>(
            css::frame::theGlobalEventBroadcaster::get(d->context), UNO_QUERY_THROW)
            ->addDocumentEventListener(Reference<css::document::XDocumentEventListener>(d->guards.get()));
    } catch (const css::uno::Exception&) {
        d->forgetConnection();
        return failure(FailureCode::OfficeNotStarted, QStringLiteral("无法连接 LibreOffice。"));
    }
    d->office = findOfficeBinary(d->command);
    return {};
}

// The three options: no autosave or recovery copies of a report, no question whether to keep the
// Word format, no AutoCorrect changing what the user types into a report.
Status LibreOfficeWordProcessor::switchOffOptions()
{
    if (!d->connected())
        return ended();
    struct Switch
    {
        const char* node;
        const char* name;
    };
    static constexpr Switch switches[] = {
        {"/org.openoffice.Office.Recovery/AutoSave", "Enabled"},
        {"/org.openoffice.Office.Common/Save/Document", "WarnAlienFormat"},
        {"/org.openoffice.Office.Writer/AutoFunction/Format/ByInput", "Enable"},
    };
    try {
        const Reference<css::lang::XMultiServiceFactory> provider =
            css::configuration::theDefaultProvider::get(d->context);
        for (const Switch& s : switches) {
            const Any path(css::beans::NamedValue(ascii("nodepath"), Any(ascii(s.node))));
            const Reference<css::container::XNameReplace> node(
                provider->createInstanceWithArguments(
                    ascii("com.sun.star.configuration.ConfigurationUpdateAccess"), Sequence<Any>(&path, 1)),
                UNO_QUERY_THROW);
            node->replaceByName(ascii(s.name), Any(false));
            Reference<css::util::XChangesBatch>(node, UNO_QUERY_THROW)->commitChanges();
        }
    } catch (const css::uno::Exception&) {
        return failure(FailureCode::OfficeOptionsFailed, QStringLiteral("无法设置 LibreOffice 的选项。"), !isRunning());
    }
    return {};
}

bool LibreOfficeWordProcessor::isRunning() const
{
    return d->connected() && (d->office <= 0 || processAlive(d->office));
}

Status LibreOfficeWordProcessor::openDocument(const QString& path)
{
    if (!isRunning())
        return ended();
    try {
        const Reference<css::frame::XComponentLoader> loader(d->desktop, UNO_QUERY_THROW);
        const Reference<css::lang::XComponent> component = loader->loadComponentFromURL(
            fileUrl(path), ascii("_blank"), 0,
            properties({property("Hidden", Any(true)), property("ReadOnly", Any(false)),
                        property("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)),
                        property("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE))}));
        const Reference<css::frame::XModel> model(component, UNO_QUERY);
        if (!model.is() || !Reference<css::text::XTextDocument>(component, UNO_QUERY).is()) {
            if (model.is())
                (void)d->closeDocumentOf(model);
            return failure(FailureCode::DocumentNotOpened, QStringLiteral("%1 不是文字处理文档。").arg(path));
        }
        d->report = model;
        d->protectionPassword.reset();
        d->guards->guard(d->reportFrame());
    } catch (const css::uno::Exception&) {
        return failure(FailureCode::DocumentNotOpened, QStringLiteral("LibreOffice 无法打开 %1。").arg(path), !isRunning());
    }
    return {};
}

bool LibreOfficeWordProcessor::hasOpenDocument() const
{
    return d->report.is();
}

Status LibreOfficeWordProcessor::replacePlaceholders(const PlaceholderValues& values)
{
    if (!d->report.is())
        return failure(FailureCode::NoOpenDocument, QStringLiteral("没有打开的报告文档。"));
    if (values.empty())
        return {};
    try {
        fillPlaceholders(d->report, values);
    } catch (const css::uno::Exception&) {
        return failure(FailureCode::DocumentNotFilled, QStringLiteral("无法填写报告文档。"), !isRunning());
    }
    return {};
}

Status LibreOfficeWordProcessor::collapseSelection()
{
    if (!d->report.is())
        return failure(FailureCode::NoOpenDocument, QStringLiteral("没有打开的报告文档。"));
    try {
        const Reference<css::text::XTextViewCursorSupplier> supplier(d->report->getCurrentController(),
                                                                     UNO_QUERY_THROW);
        supplier->getViewCursor()->gotoStart(false);
    } catch (const css::uno::Exception&) {
        return failure(FailureCode::DocumentNotFilled, QStringLiteral("无法设置报告文档的光标。"), !isRunning());
    }
    return {};
}

Status LibreOfficeWordProcessor::protectReadOnly(const QString& password)
{
    if (!d->report.is())
        return failure(FailureCode::NoOpenDocument, QStringLiteral("没有打开的报告文档。"));
    // The office writes no such protection into a Word file of its own accord; it is put into the
    // file when the document is saved.
    d->protectionPassword = password;
    return {};
}

Status LibreOfficeWordProcessor::saveAs(const QString& path)
{
    if (!d->report.is())
        return failure(FailureCode::NoOpenDocument, QStringLiteral("没有打开的报告文档。"));
    if (d->events) {
        bool cancel = false;
        d->events->documentBeforeSave(true, cancel);
        if (cancel)
            return failure(FailureCode::SaveRefused, QStringLiteral("保存被拒绝。"));
    }
    try {
        // Stored as a copy: the document stays the working copy, which is never written.
        Reference<css::frame::XStorable>(d->report, UNO_QUERY_THROW)
            ->storeToURL(fileUrl(path), properties({property("FilterName", Any(ascii("MS Word 97"))),
                                                    property("Overwrite", Any(true))}));
    } catch (const css::uno::Exception&) {
        return failure(FailureCode::DocumentNotSaved, QStringLiteral("无法保存文件 %1。").arg(path), !isRunning());
    }
    if (d->protectionPassword)
        return protectDocFileReadOnly(path, *d->protectionPassword);
    return {};
}

Status LibreOfficeWordProcessor::closeDocument()
{
    if (!d->report.is())
        return {}; // closing a closed document again is accepted
    if (d->raisingBeforeClose) {
        // Asked from inside a before-close event. For the report's own close the close under way
        // finishes it; for another document's, the report goes now.
        if (d->closing == d->report)
            return {};
        return d->closeReportNow();
    }
    if (!d->raiseBeforeClose(d->report))
        return failure(FailureCode::CloseCancelled, QStringLiteral("报告文档的关闭被取消。"));
    if (!d->report.is())
        return {};
    return d->closeReportNow();
}

Status LibreOfficeWordProcessor::setVisible(bool visible)
{
    if (!d->connected())
        return ended();
    try {
        const Reference<css::container::XIndexAccess> frames(d->desktop->getFrames(), UNO_QUERY_THROW);
        for (sal_Int32 i = 0; i < frames->getCount(); ++i) {
            const Reference<css::frame::XFrame> frame(frames->getByIndex(i), UNO_QUERY);
            const Reference<css::awt::XWindow2> window(frame.is() ? frame->getContainerWindow() : nullptr,
                                                       UNO_QUERY);
            // Showing a shown window again would raise and repaint it, for nothing.
            if (window.is() && window->isVisible() != visible) {
                window->setVisible(visible);
                if (visible)
                    d->shownAt = std::chrono::steady_clock::now();
            }
        }
    } catch (const css::uno::Exception&) {
        return failure(FailureCode::OfficeWindowFailed, QStringLiteral("无法显示或隐藏 LibreOffice 的窗口。"), !isRunning());
    }
    return {};
}

Status LibreOfficeWordProcessor::showMaximized()
{
    if (!d->report.is())
        return failure(FailureCode::NoOpenDocument, QStringLiteral("没有打开的报告文档。"));
    try {
        const Reference<css::frame::XFrame> frame = d->reportFrame();
        const Reference<css::awt::XWindow> window = frame->getContainerWindow();
        // Shown and maximised only: the window manager raises a newly shown window and gives it
        // the focus. Raising or focusing it from here (toFront(), frame->activate()) runs the
        // office's focus handling on the connection's thread instead of its own, where the GTK
        // clipboard query it makes can hang the call for good.
        // Maximised while still hidden, it is laid out once, at its full size.
        Reference<css::awt::XTopWindow2>(window, UNO_QUERY_THROW)->setIsMaximized(true);
        window->setVisible(true);
        d->shownAt = std::chrono::steady_clock::now();
    } catch (const css::uno::Exception&) {
        return failure(FailureCode::OfficeWindowFailed, QStringLiteral("无法显示 LibreOffice 的窗口。"), !isRunning());
    }
    return {};
}

Status LibreOfficeWordProcessor::quit()
{
    if (!d->context.is() && d->launcher <= 0)
        return {};
    d->quitting = true;
    if (d->connected()) {
        d->veto->allowed = true;
        try {
            // Nothing is saved and nothing is asked: every document is let go as it is.
            const Reference<css::container::XEnumeration> components =
                d->desktop->getComponents()->createEnumeration();
            while (components->hasMoreElements()) {
                Reference<css::util::XModifiable> document(components->nextElement(), UNO_QUERY);
                if (document.is())
                    document->setModified(false);
            }
            d->desktop->terminate();
        } catch (const css::uno::RuntimeException&) {
            // The office may drop the connection before it answers.
        }
    } else {
        // Launched but never connected (the program could not go on): nothing to ask it.
        endInstances(d->command, 3s);
    }
    if (d->office <= 0)
        d->office = findOfficeBinary(d->command);
    if (!d->waitEnded(10s)) {
        for (pid_t pid : {d->office, d->launcher}) {
            if (pid > 0 && processAlive(pid))
                ::kill(pid, SIGKILL);
        }
        (void)d->waitEnded(5s);
    }
    // The connection notices the end of the office by itself, at once.
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (d->watch.is() && !d->watch->ended && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    d->forgetConnection();
    d->launcher = -1;
    d->office = -1;
    d->quitting = false;
    return {};
}

} // namespace korvela
