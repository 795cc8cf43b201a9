#pragma once

#include <QMutex>
#include <QString>

// All the printing of a batch, from any thread: written paths on stdout, errors and
// attempts on stderr, and a progress bar on stderr when it is a terminal and there is more
// than one photo. Lines never tear through the bar: it is wiped before and drawn after.
class ProgressReporter {
public:
    ProgressReporter(int total, bool showBar);
    ~ProgressReporter();

    void written(const QString& path);   // one photo done
    void failed(const QString& message); // one photo done, with its error
    void skipped();                      // one photo done before: nothing printed
    // One photo done: its line on stdout and, when it failed, the message on stderr.
    void record(const QByteArray& line, const QString& failure);
    void note(const QString& message); // a line on stderr, nothing done

    int failures() const;

private:
    void wipeLocked();
    void drawLocked();
    void finishOneLocked();
    void printLocked(const QByteArray& line);

    mutable QMutex _mutex;
    int _total;
    int _done = 0;
    int _failures = 0;
    bool _showBar;
    bool _barShown = false;
    bool _stdoutLost = false; // said once; the names that follow are lost too
};
