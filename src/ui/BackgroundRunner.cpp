#include "BackgroundRunner.h"

#include "foundation/Logging.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QProgressBar>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

BackgroundRunner::BackgroundRunner(QObject* parent) : QObject(parent) {}

void BackgroundRunner::setProgressIndicator(QProgressBar* indicator)
{
    _indicator = indicator;
}

bool BackgroundRunner::run(const std::function<void()>& job)
{
    if (_busy)
        return false;
    _busy = true;
    emit busyChanged(true);
    if (_indicator) {
        _indicator->setRange(0, 0);
        _indicator->show();
    }

    QFuture<void> future = QtConcurrent::run([&job] {
        try {
            job();
        } catch (...) {
            // The job's result stays empty; its caller reports the failure.
            Logging::logCaughtException("background job");
        }
    });
    QFutureWatcher<void> watcher;
    QEventLoop loop;
    connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    // A quit requested meanwhile ends every loop; the worker still has to be done with us.
    future.waitForFinished();

    if (_indicator)
        _indicator->hide();
    _busy = false;
    emit busyChanged(false);
    // Queued, so that the caller finishes with its result before anything new starts.
    if (!_held.isEmpty())
        QTimer::singleShot(0, this, &BackgroundRunner::runHeldWork);
    return true;
}

void BackgroundRunner::whenIdle(std::function<void()> work)
{
    if (_busy || !_held.isEmpty())
        _held.append(std::move(work));
    else
        work();
}

void BackgroundRunner::runHeldWork()
{
    while (!_busy && !_held.isEmpty())
        _held.takeFirst()();
}
