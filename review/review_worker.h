#pragma once

#include "core/database.h"

#include <QObject>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace korvela {

using StoreOpener = std::function<Result<std::unique_ptr<ReportDatabase>>()>;

// Reads the reports away from the window's thread: one thread with a connection of its own, opened
// there as soon as the worker is made (a failure is the first job's answer, and the job after it
// opens again) and closed there at the end. Jobs run one after the other in the order given.
class ReviewWorker
{
public:
    explicit ReviewWorker(StoreOpener open);
    ~ReviewWorker();
    ReviewWorker(const ReviewWorker&) = delete;
    ReviewWorker& operator=(const ReviewWorker&) = delete;

    // Runs `job` on the worker's thread, then `done` with its result on `receiver`'s thread; not
    // when `receiver` is gone by then.
    template <typename T>
    void run(QObject* receiver, std::function<Result<T>(ReportDatabase&)> job,
             std::function<void(const Result<T>&)> done)
    {
        post([this, receiver = QPointer<QObject>(receiver), job = std::move(job), done = std::move(done)] {
            if (m_closing)
                return;
            auto result = std::make_shared<Result<T>>(withStore<T>(job));
            if (receiver)
                QMetaObject::invokeMethod(
                    receiver.data(), [done, result] { done(*result); }, Qt::QueuedConnection);
        });
    }

private:
    void post(std::function<void()> task);
    Result<ReportDatabase*> store();

    template <typename T> Result<T> withStore(const std::function<Result<T>(ReportDatabase&)>& job)
    {
        Result<ReportDatabase*> db = store();
        if (!db)
            return db.failure();
        return job(**db);
    }

    StoreOpener m_open;
    QThread m_thread;
    // Lives in m_thread; the jobs are its events.
    QObject* m_context = nullptr;
    std::unique_ptr<ReportDatabase> m_db;
    std::optional<Failure> m_openFailure;
    // Set at the end: jobs still waiting are dropped.
    std::atomic<bool> m_closing{false};
};

} // namespace korvela
