#pragma once
#include <QCoreApplication>
#include <QFutureWatcher>
#include <QMetaObject>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <type_traits>
#include <utility>

namespace lomex {

// Runs `work` on `pool` and hands its result to `done` on the context's thread. The watcher
// belongs to the context: when the context is deleted first, `done` is never called and nothing
// refers to the context afterwards (a continuation attached with QFuture::then(context, ...) is
// still run, and asserts, in that case). `work` must not use the context. The future lets an
// owner wait for work that uses what it owns.
template <typename Work, typename Done>
QFuture<std::invoke_result_t<Work>> runThen(QThreadPool* pool, QObject* context, Work work, Done done)
{
    using Result = std::invoke_result_t<Work>;
    auto* watcher = new QFutureWatcher<Result>(context);
    QObject::connect(watcher, &QFutureWatcher<Result>::finished, context,
                     [watcher, done = std::move(done)]() mutable {
                         watcher->deleteLater();
                         done(watcher->result());
                     });
    QFuture<Result> future = QtConcurrent::run(pool, std::move(work));
    watcher->setFuture(future);
    return future;
}

// Hands `fn` to the GUI thread from any thread (a server's, a worker's). It runs there even
// when the objects it refers to are gone by then, so it checks them itself (a QPointer): a
// caller may have to answer someone either way.
template <typename Fn>
void postToGui(Fn fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

// Short reads (files, folders, transcripts) go to the global pool.
template <typename Work, typename Done>
QFuture<std::invoke_result_t<Work>> runThen(QObject* context, Work work, Done done)
{
    return runThen(QThreadPool::globalInstance(), context, std::move(work), std::move(done));
}

// Work that can block for long (another program that may hang until its timeout) has a pool of
// its own: on a machine with two cores it must not hold back the short reads on the global pool.
inline QThreadPool* slowPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(std::max(4, QThread::idealThreadCount()));
        return p;
    }();
    return pool;
}

// runThen on the pool for slow work.
template <typename Work, typename Done>
QFuture<std::invoke_result_t<Work>> runSlowThen(QObject* context, Work work, Done done)
{
    return runThen(slowPool(), context, std::move(work), std::move(done));
}

} // namespace lomex
