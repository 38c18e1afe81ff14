#pragma once
#include <QFutureWatcher>
#include <QObject>
#include <QtConcurrent/QtConcurrentRun>
#include <type_traits>
#include <utility>

namespace lomex {

// Runs `work` on the global thread pool and hands its result to `done` on the context's
// thread. The watcher belongs to the context: when the context is deleted first, `done` is
// never called and nothing refers to the context afterwards (a continuation attached with
// QFuture::then(context, ...) is still run, and asserts, in that case). `work` must not use
// the context.
template <typename Work, typename Done>
void runThen(QObject* context, Work work, Done done)
{
    using Result = std::invoke_result_t<Work>;
    auto* watcher = new QFutureWatcher<Result>(context);
    QObject::connect(watcher, &QFutureWatcher<Result>::finished, context,
                     [watcher, done = std::move(done)]() mutable {
                         watcher->deleteLater();
                         done(watcher->result());
                     });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

} // namespace lomex
