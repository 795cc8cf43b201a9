#pragma once

#include <QString>

// What Velluma tells its photo browser when it installs it: the window title and the
// program that picked photos are handed to. Velluma writes it into the browser's bundle
// ("Contents/document.wflow") as lines of "Key=Value"; lines it does not know are passed
// over, so an older browser reads a newer document.
struct BrowserWorkflow {
    QString windowTitle;
    QString application; // absolute path of the program that opens a picked photo

    // False (with the reason in *error) when the file cannot be read; a readable file
    // without one of the keys leaves that field empty.
    static bool read(const QString& path, BrowserWorkflow* out, QString* error = nullptr);
    static BrowserWorkflow parse(const QByteArray& text);

    // "<bundle>/Contents/document.wflow" for the executable's folder "<bundle>/Contents/MacOS".
    static QString documentPathForExecutableFolder(const QString& folder);
};
