#pragma once

#include "output/FileFormat.h"

#include <QColor>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

// What one run of velluma-frame was asked to do. Everything not given on the command line
// takes the program's factory defaults, never the GUI user's own settings.
struct FramerOptions {
    QStringList photos;
    QString framePath; // empty: no frame; a file, or "Collection/Name" of an installed frame
    std::optional<QColor> color = QColor(Qt::white); // nullopt: transparent background
    FileFormat format = FileFormat::Jpeg;
    int quality = 90;
    int limitKB = 0; // 0: no limit
    bool keepMetadata = false;
    bool autoRotate = true;
    bool flip = false;
    QPointF offset; // full-resolution pixels, x to the right, y upward
    QString outputFolder;
    bool force = false;
    int jobs = 1;
    bool verbose = false;
    QString filesFrom; // more photos, listed in this file ("-": standard input)
    bool nulSeparated = false;
    int shardIndex = 0; // this run frames the photos at positions shardIndex + k * shardCount
    int shardCount = 1;
    bool resume = false; // an existing output counts as done
    bool json = false;   // one JSON object per photo on standard output

    enum class Action { Run, Help, Version, ListFrames, UsageError };
    struct Parsed {
        Action action = Action::Run;
        QString error;     // for UsageError
        QStringList notes; // options that have no effect with the others given
    };

    // Parses the program arguments (the program name first) over the factory defaults.
    static Parsed parse(const QStringList& arguments, const QVariantMap& factoryDefaults,
                        FramerOptions& options);
    static QString usage(int defaultQuality);
};
