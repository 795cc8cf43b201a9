#include "ProgressReporter.h"

#include <QCoreApplication>
#include <QMutexLocker>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
constexpr int kBarWidth = 30;
}

ProgressReporter::ProgressReporter(int total, bool showBar) : _total(total), _showBar(showBar)
{
    QMutexLocker lock(&_mutex);
    drawLocked();
}

ProgressReporter::~ProgressReporter()
{
    QMutexLocker lock(&_mutex);
    wipeLocked();
}

void ProgressReporter::wipeLocked()
{
    if (!_barShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    _barShown = false;
}

void ProgressReporter::drawLocked()
{
    if (!_showBar || _total <= 0)
        return;
    const int filled = _done * kBarWidth / _total;
    QByteArray bar(kBarWidth, ' ');
    for (int i = 0; i < filled; ++i)
        bar[i] = '#';
    std::fprintf(stderr, "\r[%s] %d/%d", bar.constData(), _done, _total);
    std::fflush(stderr);
    _barShown = true;
}

void ProgressReporter::printLocked(const QByteArray& line)
{
    const bool printed =
        std::fprintf(stdout, "%s\n", line.constData()) >= 0 && std::fflush(stdout) == 0;
    if (!printed && !_stdoutLost) {
        _stdoutLost = true;
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        std::fprintf(stderr, "velluma-frame: %s\n",
                     QCoreApplication::translate("ProgressReporter",
                                                 "cannot write to standard output (%1); the "
                                                 "photos are still framed")
                         .arg(reason)
                         .toLocal8Bit()
                         .constData());
        std::fflush(stderr);
    }
}

void ProgressReporter::written(const QString& path)
{
    QMutexLocker lock(&_mutex);
    wipeLocked();
    printLocked(path.toLocal8Bit());
    finishOneLocked();
}

void ProgressReporter::skipped()
{
    QMutexLocker lock(&_mutex);
    wipeLocked();
    finishOneLocked();
}

void ProgressReporter::record(const QByteArray& line, const QString& failure)
{
    QMutexLocker lock(&_mutex);
    wipeLocked();
    printLocked(line);
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "velluma-frame: %s\n", failure.toLocal8Bit().constData());
        std::fflush(stderr);
        ++_failures;
    }
    finishOneLocked();
}

void ProgressReporter::failed(const QString& message)
{
    QMutexLocker lock(&_mutex);
    wipeLocked();
    std::fprintf(stderr, "velluma-frame: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    ++_failures;
    finishOneLocked();
}

void ProgressReporter::note(const QString& message)
{
    QMutexLocker lock(&_mutex);
    wipeLocked();
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    drawLocked();
}

void ProgressReporter::finishOneLocked()
{
    ++_done;
    if (_done < _total)
        drawLocked();
}

int ProgressReporter::failures() const
{
    QMutexLocker lock(&_mutex);
    return _failures;
}
