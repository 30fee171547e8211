#include "office/libreoffice_listeners.h"

#include <QMetaObject>
#include <array>
#include <com/sun/star/frame/FeatureStateEvent.hpp>
#include <com/sun/star/frame/TerminationVetoException.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XController2.hpp>
#include <com/sun/star/frame/XDispatchProviderInterception.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/DisposedException.hpp>

namespace korvela::lo {

using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

// Every way the office's window saves the document under its own or another name.
const std::array<const char*, 7> kSaveCommands = {
    ".uno:Save",           ".uno:SaveAs",       ".uno:SaveAll", ".uno:SaveACopy",
    ".uno:SaveAsTemplate", ".uno:SaveAsRemote", ".uno:CheckIn"};
// Ctrl+W, the title bar's close box, File > Close, File > Exit.
const std::array<const char*, 4> kCloseCommands = {".uno:CloseWin", ".uno:CloseFrame", ".uno:CloseDoc",
                                                   ".uno:Quit"};

template <std::size_t N> bool listed(const std::array<const char*, N>& list, const OUString& url)
{
    for (const char* command : list) {
        if (url.equalsAscii(command))
            return true;
    }
    return false;
}

} // namespace

OfficeInbox::OfficeInbox(QObject* receiver)
    : m_receiver(receiver)
{
}

void OfficeInbox::close()
{
    std::lock_guard lock(m_mutex);
    m_receiver = nullptr;
}

void OfficeInbox::post(std::function<void()> work)
{
    std::lock_guard lock(m_mutex);
    if (m_receiver)
        QMetaObject::invokeMethod(m_receiver, std::move(work), Qt::QueuedConnection);
}

void TerminationVeto::queryTermination(const css::lang::EventObject&)
{
    if (!allowed)
        throw css::frame::TerminationVetoException();
}

void ConnectionWatch::disposing(const css::lang::EventObject&)
{
    if (ended.exchange(true))
        return;
    m_inbox->post([inbox = m_inbox] {
        if (inbox->officeEnded)
            inbox->officeEnded();
    });
}

WindowCommandGuard::WindowCommandGuard(std::shared_ptr<OfficeInbox> inbox,
                                       const Reference<css::frame::XFrame>& frame)
    : m_inbox(std::move(inbox))
    , m_frame(frame)
{
}

bool WindowCommandGuard::isSaveCommand(const OUString& url)
{
    return listed(kSaveCommands, url);
}

bool WindowCommandGuard::isCloseCommand(const OUString& url)
{
    return listed(kCloseCommands, url);
}

void WindowCommandGuard::attach()
{
    Reference<css::frame::XDispatchProviderInterception>(m_frame, UNO_QUERY_THROW)
        ->registerDispatchProviderInterceptor(Reference<css::frame::XDispatchProviderInterceptor>(this));
}

Reference<css::frame::XDispatch> WindowCommandGuard::forwardTo(const css::util::URL& url)
{
    Reference<css::frame::XDispatchProvider> slave;
    {
        std::lock_guard lock(m_mutex);
        slave = m_slave;
    }
    return slave.is() ? slave->queryDispatch(url, ascii("_self"), 0) : Reference<css::frame::XDispatch>();
}

Reference<css::frame::XDispatch> WindowCommandGuard::queryDispatch(const css::util::URL& url,
                                                                   const OUString& target, sal_Int32 flags)
{
    if (isSaveCommand(url.Complete) || isCloseCommand(url.Complete))
        return this;
    Reference<css::frame::XDispatchProvider> slave;
    {
        std::lock_guard lock(m_mutex);
        slave = m_slave;
    }
    return slave.is() ? slave->queryDispatch(url, target, flags) : Reference<css::frame::XDispatch>();
}

Sequence<Reference<css::frame::XDispatch>>
WindowCommandGuard::queryDispatches(const Sequence<css::frame::DispatchDescriptor>& requests)
{
    Sequence<Reference<css::frame::XDispatch>> result(requests.getLength());
    for (sal_Int32 i = 0; i < requests.getLength(); ++i)
        result[i] = queryDispatch(requests[i].FeatureURL, requests[i].FrameName, requests[i].SearchFlags);
    return result;
}

Reference<css::frame::XDispatchProvider> WindowCommandGuard::getSlaveDispatchProvider()
{
    std::lock_guard lock(m_mutex);
    return m_slave;
}

void WindowCommandGuard::setSlaveDispatchProvider(const Reference<css::frame::XDispatchProvider>& provider)
{
    std::lock_guard lock(m_mutex);
    m_slave = provider;
}

Reference<css::frame::XDispatchProvider> WindowCommandGuard::getMasterDispatchProvider()
{
    std::lock_guard lock(m_mutex);
    return m_master;
}

void WindowCommandGuard::setMasterDispatchProvider(const Reference<css::frame::XDispatchProvider>& provider)
{
    std::lock_guard lock(m_mutex);
    m_master = provider;
}

Sequence<OUString> WindowCommandGuard::getInterceptedURLs()
{
    Sequence<OUString> urls(static_cast<sal_Int32>(kSaveCommands.size() + kCloseCommands.size()));
    sal_Int32 i = 0;
    for (const char* command : kSaveCommands)
        urls[i++] = ascii(command);
    for (const char* command : kCloseCommands)
        urls[i++] = ascii(command);
    return urls;
}

void WindowCommandGuard::dispatch(const css::util::URL& url,
                                  const Sequence<css::beans::PropertyValue>& arguments)
{
    if (isSaveCommand(url.Complete)) {
        const bool saveAs = !url.Complete.equalsAscii(".uno:Save");
        Reference<css::frame::XDispatch> next = forwardTo(url);
        m_inbox->post([inbox = m_inbox, saveAs, next, url, arguments] {
            if (inbox->userSave)
                inbox->userSave(saveAs, [next, url, arguments] {
                    if (next.is())
                        next->dispatch(url, arguments);
                });
        });
        return;
    }
    // A close command, File > Exit included: only this document closes, and the program does it.
    m_inbox->post([inbox = m_inbox, frame = m_frame] {
        if (inbox->userClose)
            inbox->userClose(frame);
    });
}

void WindowCommandGuard::addStatusListener(const Reference<css::frame::XStatusListener>& listener,
                                           const css::util::URL& url)
{
    if (!listener.is())
        return;
    // The commands look as usual in the menus and toolbars; what they do is the program's matter.
    css::frame::FeatureStateEvent state;
    state.FeatureURL = url;
    state.IsEnabled = true;
    state.Requery = false;
    state.Source = static_cast<cppu::OWeakObject*>(this);
    listener->statusChanged(state);
}

void WindowCommandGuard::removeStatusListener(const Reference<css::frame::XStatusListener>&,
                                              const css::util::URL&)
{
}

void WindowGuards::guard(const Reference<css::frame::XFrame>& frame)
{
    if (!frame.is())
        return;
    // The connection hands out one proxy per office object: its identity is the pointer.
    const Reference<css::uno::XInterface> identity(frame, UNO_QUERY);
    rtl::Reference<WindowCommandGuard> g(new WindowCommandGuard(m_inbox, frame));
    {
        std::lock_guard lock(m_mutex);
        for (const Guarded& existing : m_guards) {
            if (existing.identity == identity)
                return;
        }
        m_guards.push_back({identity, g});
    }
    // Registered outside the lock: the office may call back into the program meanwhile.
    g->attach();
}

void WindowGuards::forget(const Reference<css::frame::XFrame>& frame)
{
    const Reference<css::uno::XInterface> identity(frame, UNO_QUERY);
    std::lock_guard lock(m_mutex);
    std::erase_if(m_guards, [&](const Guarded& g) { return g.identity == identity; });
}

void WindowGuards::clear()
{
    std::lock_guard lock(m_mutex);
    m_guards.clear();
}

void WindowGuards::documentEventOccured(const css::document::DocumentEvent& event)
{
    if (!event.EventName.equalsAscii("OnViewCreated"))
        return;
    try {
        Reference<css::frame::XController> controller(event.ViewController, UNO_QUERY);
        if (!controller.is()) {
            Reference<css::frame::XModel> model(event.Source, UNO_QUERY);
            if (model.is())
                controller = model->getCurrentController();
        }
        if (controller.is())
            guard(controller->getFrame());
    } catch (const css::uno::RuntimeException&) {
        // The view went away again before it could be guarded.
    }
}

} // namespace korvela::lo
