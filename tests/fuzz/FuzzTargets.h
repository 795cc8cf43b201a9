#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

// The functions the fuzzers drive, one per harness. The regression test replays every input
// that ever made one of them fail through the same functions, so a fix stays fixed.
// Each returns normally on any input; a fault shows as a crash or a sanitizer report, and
// a broken promise of the code under test (a written file that cannot be read back, a band
// that differs from the whole composite) aborts.
namespace FuzzTargets {

// Harness names: the fuzzer executables are fuzz_<name> and the inputs kept for the
// regression test are in tests/data/fuzz/<name>/.
QStringList names();

// Calls the harness of that name; false when there is none.
bool run(const QString& name, const uint8_t* data, size_t size);

// A photo file: ImageReader::readImage on it, ImageMetadata::metadataForData on its bytes,
// and that metadata attached to a freshly encoded JPEG and TIFF, which must read back.
void photo(const uint8_t* data, size_t size);

// A photo file as HEIC, AVIF or JPEG XL is read: ImageReader::readImage and
// ImageMetadata::metadataForFile on the file, and a picture that decodes written as WebP
// with that metadata, which must read back.
void phonePhoto(const uint8_t* data, size_t size);

// Parameters and pixels of a small photo, frame and post mask: the mask overlays and
// helpers of ImageProcessor, and BorderCompositor's full-resolution composite, its bands
// and its preview.
void compositing(const uint8_t* data, size_t size);

// A property list read as settings (UserDefaults), as a user "collections.plist" and as
// factory defaults, and written back.
void propertyList(const uint8_t* data, size_t size);

// A property list as the stored "Destinations" value and as a whole settings file: the
// records read from it, their menu titles and types, the default's record, and every edit
// of the working copy, which must keep the list's size and records.
void destinationList(const uint8_t* data, size_t size);
// An update feed: Appcast::parse, and the versions it names compared with each other and
// with the running one, which must give one order whichever way round.
void appcast(const uint8_t* data, size_t size);
// A drawing frame: VectorImage::fromData, which must say why it refuses, and the accepted
// drawing laid on a small canvas.
void drawing(const uint8_t* data, size_t size);

} // namespace FuzzTargets
