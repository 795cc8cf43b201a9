#pragma once

#include <QByteArrayView>
#include <QString>

// Bytes from outside are looked at before Qt's readers see them. Qt's XML reader expands a
// document's entities and attribute defaults without a bound on the total, so a small
// drawing or feed can grow to gigabytes; and Qt's SVG image plugin takes any packed (gzip)
// file or drawing handed to a picture reader and unpacks or parses it whole. Only Qt Core:
// the photo browser uses this too.
namespace InputGuard {

// What the first bytes of a file are.
enum class Kind { Unknown, Packed, Markup, Png, Jpeg, Gif, WebP, Bmp };
inline constexpr int SniffBytes = 64;
Kind sniff(QByteArrayView head);

// The most characters the entities of one document may add to it; what real drawings and
// feeds declare (a few namespace names) stays far below.
inline constexpr qint64 MaxEntityExpansion = 1 << 20;

// False with a reason in *error when the XML document would expand beyond
// MaxEntityExpansion, or declares what cannot be bounded here: parameter or external
// entities, attribute defaults.
bool checkMarkup(QByteArrayView document, QString* error = nullptr);

// For readers of photos and bitmap frames: false with a reason when the bytes are a drawing
// or packed, which no picture reader may be given.
bool checkPicture(QByteArrayView head, QString* error = nullptr);
// The same for a file's first bytes. What is no regular file, or cannot be opened, passes:
// the reader that follows says why it cannot read it.
bool checkPictureFile(const QString& path, QString* error = nullptr);

// PNG, JPEG, GIF, WebP or BMP: the pictures a drawing may carry inside itself.
bool isPlainRaster(QByteArrayView data);

} // namespace InputGuard
