#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class QProgressBar;

// Runs the long work of the document (reading a photo, rendering and encoding at full
// size) on a worker thread while the window keeps painting and the progress indicator
// keeps moving. Input waits meanwhile, so nothing can start a second job; work that
// arrives from elsewhere in the meantime (a photo handed over by a second launch, a close
// request) is held and done in order as soon as the job ends.
class BackgroundRunner : public QObject {
    Q_OBJECT
public:
    explicit BackgroundRunner(QObject* parent = nullptr);

    // Not owned; shown moving while a job runs.
    void setProgressIndicator(QProgressBar* indicator);
    bool isBusy() const { return _busy; }

    // Runs job on a worker thread and returns when it is done. False without running it
    // when a job is already under way. The job must not touch widgets.
    bool run(const std::function<void()>& job);
    // Now when idle; otherwise after the running job, in the order asked.
    void whenIdle(std::function<void()> work);

signals:
    void busyChanged(bool busy);

private:
    void runHeldWork();

    QPointer<QProgressBar> _indicator;
    bool _busy = false;
    QList<std::function<void()>> _held;
};
