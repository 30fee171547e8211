#include "review/review_worker.h"

namespace korvela {

ReviewWorker::ReviewWorker(StoreOpener open)
    : m_open(std::move(open))
{
    m_thread.setObjectName(QStringLiteral("korvela-review-worker"));
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread.start();
    post([this] {
        Result<std::unique_ptr<ReportDatabase>> opened = m_open();
        if (opened)
            m_db = std::move(*opened);
        else
            m_openFailure = opened.failure();
    });
}

ReviewWorker::~ReviewWorker()
{
    // The connection is closed by the thread that used it, after the job it may be running.
    m_closing = true;
    QMetaObject::invokeMethod(
        m_context, [this] { m_db.reset(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void ReviewWorker::post(std::function<void()> task)
{
    QMetaObject::invokeMethod(m_context, std::move(task), Qt::QueuedConnection);
}

Result<ReportDatabase*> ReviewWorker::store()
{
    if (m_openFailure) {
        const Failure failure = *m_openFailure;
        m_openFailure.reset();
        return failure;
    }
    if (!m_db) {
        Result<std::unique_ptr<ReportDatabase>> opened = m_open();
        if (!opened)
            return opened.failure();
        m_db = std::move(*opened);
    }
    return m_db.get();
}

} // namespace korvela
