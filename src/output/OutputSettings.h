#pragma once

#include "foundation/DefaultsKeys.h"
#include "output/FileFormat.h"

#include <QObject>
#include <QVariantMap>

class UserDefaults;

// How the framed photo is written: format, JPEG quality and size limit, transparent
// background, metadata. The values live in the user defaults; this object reads them with
// the format's rules and tells the rest of the program what a change means.
//
// The stored booleans keep their value when the format changes: the transparent
// background turned on for PNG comes back when the user returns to PNG, while JPEG reads
// it as false.
class OutputSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(FileFormat fileFormat READ fileFormat WRITE setFileFormat NOTIFY fileFormatChanged)
    Q_PROPERTY(int jpegQuality READ jpegQuality WRITE setJpegQuality NOTIFY jpegQualityChanged)
    Q_PROPERTY(
        bool limitFilesize READ limitFilesize WRITE setLimitFilesize NOTIFY limitFilesizeChanged)
    Q_PROPERTY(bool transparentBackground READ transparentBackground WRITE setTransparentBackground
                   NOTIFY transparentBackgroundChanged)
    Q_PROPERTY(bool preserveMetadata READ preserveMetadata WRITE setPreserveMetadata NOTIFY
                   preserveMetadataChanged)

public:
    // The JPEG quality fields: their range and the stepper's increment.
    static constexpr int MinQuality = 1;
    static constexpr int MaxQuality = 100;
    static constexpr int QualityIncrement = 5;

    explicit OutputSettings(UserDefaults& defaults, QObject* parent = nullptr);

    FileFormat fileFormat() const;
    int jpegQuality() const;
    bool limitFilesize() const;
    int filesizeLimit() const; // kilobytes of 1024 bytes
    bool transparentBackground() const;
    bool preserveMetadata() const;
    bool lossyFormat() const;
    bool transparentBackgroundSupported() const;
    bool metadataSupported() const;

    void setFileFormat(FileFormat format);
    void setJpegQuality(int quality);
    void setLimitFilesize(bool limit);
    void setTransparentBackground(bool transparent);
    void setPreserveMetadata(bool preserve);

    // The defaults registered at start: resources/FactoryDefaults.plist, plus the update
    // feed's address where the system offers what the feed needs (0x1050 and later).
    static QVariantMap factoryDefaults();
    static QVariantMap factoryDefaults(const QString& plistPath);

    UserDefaults& userDefaults() const { return _defaults; }

signals:
    void fileFormatChanged(FileFormat format);
    void jpegQualityChanged(int quality);
    // The values the format decides; a format change emits all three, in this order.
    void transparentBackgroundChanged(bool transparent);
    void limitFilesizeChanged(bool limit);
    void preserveMetadataChanged(bool preserve);

    // The preview's frame colour must change: none (transparent background) or the colour
    // dialog's current colour. Sent by setFileFormat and setTransparentBackground.
    void borderColorNeeded(bool transparent);
    // The output written last no longer matches the settings: empty the size display and
    // clear the preview's written-file flag.
    void outputStale();

private:
    void emitDerived();

    UserDefaults& _defaults;
};
