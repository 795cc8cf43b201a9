#pragma once

#include <QImage>
#include <QList>
#include <QString>

inline const QString KEY_PATH = QStringLiteral("path");
inline const QString KEY_IMAGE = QStringLiteral("image");

// One frame as the library shows it: the frame file and its 48-pixel-high thumbnail.
struct ThumbnailEntry {
    QString path;
    QImage image;
};

// A collection in memory: its entries in the folder's listing order.
using ThumbnailList = QList<ThumbnailEntry>;
