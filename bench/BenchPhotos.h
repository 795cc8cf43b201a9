#pragma once

#include <QImage>

// Gradients and grain, so that the JPEG is about as large as a photo's.
inline QImage benchPhoto(int width, int height, int shade = 90)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint32 seed = 1;
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 28) - 8;
            auto c = [grain](int v) { return qBound(0, v + grain, 255); };
            line[x] = qRgb(c(60 + 150 * x / width), c(50 + 120 * y / height), c(shade));
        }
    }
    return image;
}
