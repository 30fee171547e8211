#include "office/libreoffice_word_processor.h"

#include "core/failure_codes.h"
#include "core/program_folder.h"
#include "office/libreoffice_doc_protection.h"
#include "office/libreoffice_listeners.h"
#include "office/libreoffice_process.h"
#include "office/libreoffice_uno.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <atomic>
#include <com/sun/star/awt/XTopWindow2.hpp>
#include <com/sun/star/awt/XWindow2.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNameReplace.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XActionLockable.hpp>
#include <com/sun/star/document/XDocumentEventBroadcaster.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/DispatchHelper.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XFrames.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/frame/theGlobalEventBroadcaster.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionPassword2.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextFramesSupplier.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/text/XTextViewCursor.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XChangesBatch.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XSearchable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cstring>
#include <future>
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

// The word processor's failure codes, as the program's list names them; the descriptions say
// what the user can do about them.
enum Code {
    kNotInstalled = FailureCode::OfficeNotInstalled,
    kNotStarted = FailureCode::OfficeNotStarted,
    kEnded = FailureCode::OfficeEnded,
    kNoDocument = FailureCode::NoOpenDocument,
    kOpenFailed = FailureCode::DocumentNotOpened,
    kFillFailed = FailureCode::DocumentNotFilled,
    kSaveFailed = FailureCode::DocumentNotSaved,
    kSaveCancelled = FailureCode::SaveRefused,
    kCloseCancelled = FailureCode::CloseCancelled,
    kWindowFailed = FailureCode::OfficeWindowFailed,
    kOptionsFailed = FailureCode::OfficeOptionsFailed,
};

Failure failure(Code code, const QString& text)
{
    return Failure{code, text};
}

// The office's own messages are technical English: the user gets the Chinese sentence, and a
// word processor that has gone away meanwhile is said to have gone.
Failure failure(Code code, const QString& text, bool officeGone)
{
    if (officeGone)
        return Failure{kEnded, text + QStringLiteral("LibreOffice 已经结束。")};
    return Failure{code, text};
}

Failure ended()
{
    return failure(kEnded, QStringLiteral("LibreOffice 已经结束。"));
}

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

struct LibreOfficeWordProcessor::Impl
{
    LibreOfficeSettings settings;
    OfficeCommand command;
    pid_t launcher = -1;
    pid_t office = -1;
    bool quitting = false;
    std::future<void> bootstrap;
    std::chrono::steady_clock::time_point shownAt{};

    QObject receiver;
    std::shared_ptr<OfficeInbox> inbox = std::make_shared<OfficeInbox>(&receiver);
    Reference<css::bridge::XBridge> bridge;
    Reference<css::uno::XComponentContext> context;
    Reference<css::frame::XDesktop2> desktop;
    rtl::Reference<TerminationVeto> veto;
    rtl::Reference<ConnectionWatch> watch;
    rtl::Reference<WindowGuards> guards;

    WordProcessorEvents* events = nullptr;
    Reference<css::frame::XModel> report;
    std::optional<QString> protectionPassword;
    // Set while a before-close event runs, to the document whose close raised it.
    bool raisingBeforeClose = false;
    Reference<css::frame::XModel> closing;

    bool connected() const { return context.is() && watch.is() && !watch->ended; }

    Reference<css::frame::XFrame> reportFrame() const
    {
        const Reference<css::frame::XController> controller = report->getCurrentController();
        return controller.is() ? controller->getFrame() : Reference<css::frame::XFrame>();
    }

    // Runs the window's before-close handler for the closing of `model`. True when it lets the
    // close go ahead.
    bool raiseBeforeClose(const Reference<css::frame::XModel>& model)
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

    Status closeReportNow()
    {
        const Reference<css::frame::XModel> model = report;
        report.clear();
        protectionPassword.reset();
        return closeDocumentOf(model);
    }

    // A window the office has just shown receives its focus from the window manager a moment
    // later; a document closed before the office has handled that focus crashes it. Closes wait
    // for that moment to pass (only ever right after a showing).
    void letShownWindowSettle() const { std::this_thread::sleep_until(shownAt + 400ms); }

    // Closes a document of the instance and forgets its window's guard.
    Status closeDocumentOf(const Reference<css::frame::XModel>& model)
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

    static Status closeModel(const Reference<css::frame::XModel>& model)
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
            return failure(kEnded, QStringLiteral("LibreOffice 已经结束。"));
        }
        return {};
    }

    // A close asked for in the office's window: the window's handler decides and, for the report,
    // closes it; any other document is closed here after it.
    void onUserClose(const Reference<css::frame::XFrame>& frame)
    {
        Reference<css::frame::XModel> model;
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

    void onUserSave(bool saveAs, const std::function<void()>& carryOut)
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

    // The office went away under the program: a report it showed is gone, which the window
    // handles as the close of that report.
    void onOfficeEnded()
    {
        if (quitting || !report.is())
            return;
        report.clear();
        protectionPassword.reset();
        (void)raiseBeforeClose({});
    }

    // Drops the references into the office. The connection is never disposed from here: it ends
    // by itself when the office does, and disposing it while it ends can hang.
    void forgetConnection()
    {
        if (guards.is())
            guards->clear();
        report.clear();
        desktop.clear();
        context.clear();
        bridge.clear();
    }

    // Waits until the launcher and the office have ended, up to `grace`.
    bool waitEnded(std::chrono::milliseconds grace)
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
};

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
        return failure(kNotInstalled,
                       QStringLiteral("没有找到 LibreOffice（%1），请安装 libreoffice-writer。")
                           .arg(d->command.soffice));
    // A new office on the profile of a leftover one would hand its work to it and end.
    endInstances(d->command, 3s);
    if (!QDir().mkpath(d->command.profileFolder) || !seedProfile(d->command.profileFolder))
        return failure(
            kNotStarted,
            QStringLiteral("无法建立 LibreOffice 的配置文件夹 %1。").arg(d->command.profileFolder));
    d->launcher = spawnOffice(d->command, d->command.profileFolder + u"/soffice.log");
    if (d->launcher <= 0)
        return failure(
            kNotStarted,
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
        return failure(kNotStarted, QStringLiteral("LibreOffice 的程序库无法加载。"));
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
                    return failure(kNotStarted, QStringLiteral("LibreOffice 启动后立即结束了，详见 %1。")
                                                    .arg(d->command.profileFolder + u"/soffice.log"));
                }
                if (std::chrono::steady_clock::now() > deadline)
                    return failure(kNotStarted, QStringLiteral("LibreOffice 没有在规定时间内启动。"));
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
        return failure(kNotStarted, QStringLiteral("无法连接 LibreOffice。"));
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
        return failure(kOptionsFailed, QStringLiteral("无法设置 LibreOffice 的选项。"), !isRunning());
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
            return failure(kOpenFailed, QStringLiteral("%1 不是文字处理文档。").arg(path));
        }
        d->report = model;
        d->protectionPassword.reset();
        d->guards->guard(d->reportFrame());
    } catch (const css::uno::Exception&) {
        return failure(kOpenFailed, QStringLiteral("LibreOffice 无法打开 %1。").arg(path), !isRunning());
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
        return failure(kNoDocument, QStringLiteral("没有打开的报告文档。"));
    if (values.empty())
        return {};
    QHash<QString, OUString> replacement;
    for (const auto& [placeholder, value] : values)
        replacement.insert(placeholder.toCaseFolded(), literalText(value));
    try {
        // All occurrences are found first, then each found range gets its value: a value is never
        // searched again, so text a user typed is never taken for a placeholder.
        const EditBatch batch(d->report);
        const Reference<css::util::XSearchable> searchable(d->report, UNO_QUERY_THROW);
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
    } catch (const css::uno::Exception&) {
        return failure(kFillFailed, QStringLiteral("无法填写报告文档。"), !isRunning());
    }
    return {};
}

Status LibreOfficeWordProcessor::collapseSelection()
{
    if (!d->report.is())
        return failure(kNoDocument, QStringLiteral("没有打开的报告文档。"));
    try {
        const Reference<css::text::XTextViewCursorSupplier> supplier(d->report->getCurrentController(),
                                                                     UNO_QUERY_THROW);
        supplier->getViewCursor()->gotoStart(false);
    } catch (const css::uno::Exception&) {
        return failure(kFillFailed, QStringLiteral("无法设置报告文档的光标。"), !isRunning());
    }
    return {};
}

Status LibreOfficeWordProcessor::protectReadOnly(const QString& password)
{
    if (!d->report.is())
        return failure(kNoDocument, QStringLiteral("没有打开的报告文档。"));
    // The office writes no such protection into a Word file of its own accord; it is put into the
    // file when the document is saved.
    d->protectionPassword = password;
    return {};
}

Status LibreOfficeWordProcessor::saveAs(const QString& path)
{
    if (!d->report.is())
        return failure(kNoDocument, QStringLiteral("没有打开的报告文档。"));
    if (d->events) {
        bool cancel = false;
        d->events->documentBeforeSave(true, cancel);
        if (cancel)
            return failure(kSaveCancelled, QStringLiteral("保存被拒绝。"));
    }
    try {
        // Stored as a copy: the document stays the working copy, which is never written.
        Reference<css::frame::XStorable>(d->report, UNO_QUERY_THROW)
            ->storeToURL(fileUrl(path), properties({property("FilterName", Any(ascii("MS Word 97"))),
                                                    property("Overwrite", Any(true))}));
    } catch (const css::uno::Exception&) {
        return failure(kSaveFailed, QStringLiteral("无法保存文件 %1。").arg(path), !isRunning());
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
        return failure(kCloseCancelled, QStringLiteral("报告文档的关闭被取消。"));
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
        return failure(kWindowFailed, QStringLiteral("无法显示或隐藏 LibreOffice 的窗口。"), !isRunning());
    }
    return {};
}

Status LibreOfficeWordProcessor::showMaximized()
{
    if (!d->report.is())
        return failure(kNoDocument, QStringLiteral("没有打开的报告文档。"));
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
        return failure(kWindowFailed, QStringLiteral("无法显示 LibreOffice 的窗口。"), !isRunning());
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

Result<QString> LibreOfficeWordProcessor::documentText() const
{
    if (!d->report.is())
        return failure(kNoDocument, QStringLiteral("没有打开的报告文档。"));
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
        return failure(kFillFailed, QStringLiteral("无法读取报告文档。"), !isRunning());
    }
    return text.join(u'\n');
}

Status LibreOfficeWordProcessor::dispatchInDocumentWindow(const QString& command)
{
    if (!d->report.is())
        return failure(kNoDocument, QStringLiteral("没有打开的报告文档。"));
    try {
        const Reference<css::frame::XDispatchProvider> window(d->reportFrame(), UNO_QUERY_THROW);
        css::frame::DispatchHelper::create(d->context)
            ->executeDispatch(window, toOU(command), ascii("_self"), 0, {});
    } catch (const css::uno::Exception&) {
        return failure(kWindowFailed, QStringLiteral("无法执行 %1。").arg(command), !isRunning());
    }
    return {};
}

bool LibreOfficeWordProcessor::documentWindowVisible() const
{
    try {
        if (!d->report.is())
            return false;
        const Reference<css::awt::XWindow2> window(d->reportFrame()->getContainerWindow(), UNO_QUERY_THROW);
        return window->isVisible();
    } catch (const css::uno::Exception&) {
        return false;
    }
}

bool LibreOfficeWordProcessor::documentWindowMaximized() const
{
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

Result<ReopenedFile> LibreOfficeWordProcessor::reopen(const QString& path,
                                                      const std::optional<QString>& passwordToEdit)
{
    if (!isRunning())
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
        return failure(kOpenFailed, QStringLiteral("LibreOffice 无法打开 %1。").arg(path), !isRunning());
    }
    (void)d->closeDocumentOf(model);
    return result;
}

qint64 LibreOfficeWordProcessor::officeProcessId() const
{
    return d->office;
}

} // namespace korvela
