#pragma once

// Listeners the office calls back. Every callback arrives on a thread of the UNO bridge, never on
// the user-interface thread, while the office waits for its answer: a callback only records or
// posts work to the user-interface thread, and never waits for that thread.

#include "office/libreoffice_uno.h"

#include <QObject>
#include <atomic>
#include <com/sun/star/document/XDocumentEventListener.hpp>
#include <com/sun/star/frame/XDispatch.hpp>
#include <com/sun/star/frame/XDispatchProviderInterceptor.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XInterceptorInfo.hpp>
#include <com/sun/star/frame/XTerminateListener.hpp>
#include <cppuhelper/implbase1.hxx>
#include <cppuhelper/implbase3.hxx>
#include <functional>
#include <memory>
#include <mutex>
#include <rtl/ref.hxx>
#include <vector>

namespace korvela::lo {

using css::uno::Reference;

// What the office's window asks for, handed to the user-interface thread. The handlers are set
// once, before any listener exists, and run on the receiver's thread.
class OfficeInbox
{
public:
    // The user asked to close the document shown in `frame` (window close, Ctrl+W, File > Close,
    // File > Exit).
    std::function<void(const Reference<css::frame::XFrame>& frame)> userClose;
    // The user asked to save; `carryOut` performs the save if it is let through.
    std::function<void(bool saveAs, std::function<void()> carryOut)> userSave;
    // The office went away (killed, crashed).
    std::function<void()> officeEnded;

    explicit OfficeInbox(QObject* receiver);
    // Later posts are dropped: the receiver is going.
    void close();
    void post(std::function<void()> work);

private:
    std::mutex m_mutex;
    QObject* m_receiver;
};

// Refuses the office's own termination (File > Exit, the last window closed by the system) unless
// the program itself quits the instance.
class TerminationVeto : public cppu::WeakImplHelper1<css::frame::XTerminateListener>
{
public:
    std::atomic<bool> allowed{false};

    void SAL_CALL queryTermination(const css::lang::EventObject&) override;
    void SAL_CALL notifyTermination(const css::lang::EventObject&) override {}
    void SAL_CALL disposing(const css::lang::EventObject&) override {}
};

// Notices the end of the connection: the office was killed or crashed.
class ConnectionWatch : public cppu::WeakImplHelper1<css::lang::XEventListener>
{
public:
    explicit ConnectionWatch(std::shared_ptr<OfficeInbox> inbox)
        : m_inbox(std::move(inbox))
    {
    }
    std::atomic<bool> ended{false};

    void SAL_CALL disposing(const css::lang::EventObject&) override;

private:
    std::shared_ptr<OfficeInbox> m_inbox;
};

// Sits in a document window's command chain. Every command that would save the document (the
// menus, the toolbar and the shortcuts all dispatch one) is held and handed to the program,
// which lets it through or drops it; the close commands are handed over instead of carried out,
// so the program closes the document itself, without the office's "save changes?" question.
class WindowCommandGuard : public cppu::WeakImplHelper3<css::frame::XDispatchProviderInterceptor,
                                                        css::frame::XInterceptorInfo, css::frame::XDispatch>
{
public:
    WindowCommandGuard(std::shared_ptr<OfficeInbox> inbox, const Reference<css::frame::XFrame>& frame);

    static bool isSaveCommand(const OUString& url);
    static bool isCloseCommand(const OUString& url);

    void attach();
    const Reference<css::frame::XFrame>& frame() const { return m_frame; }

    // XDispatchProvider
    Reference<css::frame::XDispatch> SAL_CALL queryDispatch(const css::util::URL& url, const OUString& target,
                                                            sal_Int32 flags) override;
    css::uno::Sequence<Reference<css::frame::XDispatch>>
        SAL_CALL queryDispatches(const css::uno::Sequence<css::frame::DispatchDescriptor>& requests) override;
    // XDispatchProviderInterceptor
    Reference<css::frame::XDispatchProvider> SAL_CALL getSlaveDispatchProvider() override;
    void SAL_CALL setSlaveDispatchProvider(const Reference<css::frame::XDispatchProvider>& provider) override;
    Reference<css::frame::XDispatchProvider> SAL_CALL getMasterDispatchProvider() override;
    void SAL_CALL
    setMasterDispatchProvider(const Reference<css::frame::XDispatchProvider>& provider) override;
    // XInterceptorInfo: only these commands are routed through the guard.
    css::uno::Sequence<OUString> SAL_CALL getInterceptedURLs() override;
    // XDispatch
    void SAL_CALL dispatch(const css::util::URL& url,
                           const css::uno::Sequence<css::beans::PropertyValue>& arguments) override;
    void SAL_CALL addStatusListener(const Reference<css::frame::XStatusListener>& listener,
                                    const css::util::URL& url) override;
    void SAL_CALL removeStatusListener(const Reference<css::frame::XStatusListener>& listener,
                                       const css::util::URL& url) override;

private:
    Reference<css::frame::XDispatch> forwardTo(const css::util::URL& url);

    std::shared_ptr<OfficeInbox> m_inbox;
    Reference<css::frame::XFrame> m_frame;
    std::mutex m_mutex;
    Reference<css::frame::XDispatchProvider> m_slave;
    Reference<css::frame::XDispatchProvider> m_master;
};

// Puts a guard on every document window of the instance, including the ones the user opens
// there: the window of a report gets one as soon as it is loaded, any other as its view appears.
class WindowGuards : public cppu::WeakImplHelper1<css::document::XDocumentEventListener>
{
public:
    explicit WindowGuards(std::shared_ptr<OfficeInbox> inbox)
        : m_inbox(std::move(inbox))
    {
    }

    void guard(const Reference<css::frame::XFrame>& frame);
    // The window has closed: its guard went with it.
    void forget(const Reference<css::frame::XFrame>& frame);
    // Drops every guard without asking the office: its windows are going with it.
    void clear();

    void SAL_CALL documentEventOccured(const css::document::DocumentEvent& event) override;
    void SAL_CALL disposing(const css::lang::EventObject&) override {}

private:
    struct Guarded
    {
        Reference<css::uno::XInterface> identity;
        rtl::Reference<WindowCommandGuard> guard;
    };
    std::shared_ptr<OfficeInbox> m_inbox;
    std::mutex m_mutex;
    std::vector<Guarded> m_guards;
};

} // namespace korvela::lo
