#pragma once

#include <QByteArray>
#include <QString>

// A file named as the file system holds it. Linux names are bytes; Qt decodes them as UTF-8
// and turns every byte that is no UTF-8 into U+FFFD, after which the name opens nothing
// (nor does the name encoded back). Such a file is opened here by its bytes and handed to
// Qt's classes and to the libraries that take paths as /proc/self/fd/N, which reaches the
// same file for as long as this object holds it open. Names Qt spells alike are passed on
// as they are.
class NativeFile {
public:
    explicit NativeFile(QByteArray name);
    ~NativeFile();
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;

    const QByteArray& name() const { return _name; }
    // For messages and name fields: U+FFFD in place of the bytes that are no UTF-8.
    QString displayName() const;

    // A path that opens this file: the decoded name when Qt spells it alike, else the
    // descriptor's path (opened without blocking, so that a FIFO is held but never waited
    // for). Empty with the system's reason in *error when the file cannot be opened.
    QString path(QString* error = nullptr);

    // True when Qt's decoding gives these bytes back.
    static bool isQtSpelled(const QByteArray& name);
    // The name to show for a path made by path(): the name of the file the descriptor
    // reaches; any other path as it is.
    static QString displayPath(const QString& path);
    // The name made absolute against the current folder, whose name may be no UTF-8 either.
    static QByteArray absoluteName(const QByteArray& name);

private:
    QByteArray _name;
    int _fd = -1;
};
