#pragma once

#include "compositing/FramedPhoto.h"
#include "compositing/LoadedFrame.h"
#include "output/ImageMetadata.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPointF>
#include <QString>

#include <optional>

// The open document: the framed photo, the file it came from, the name it will be written
// under and the colour chosen for the frame. Views draw it and the controller changes it;
// an export takes a copy (framedPhoto()), so the user may go on changing the original while
// the copy is written.
class Document : public QObject {
    Q_OBJECT
public:
    explicit Document(QObject* parent = nullptr);

    // The framed photo as it stands; copying it gives the snapshot an export renders.
    const FramedPhoto& framedPhoto() const { return _framed; }
    bool hasPhoto() const { return _framed.hasPhoto(); }

    // A new photo (null: none) sits unshifted in the frame. The file it came from is kept
    // (a pasted picture replaces the photo, not the file).
    void setPhoto(const QImage& photo, const ImageMetadata& metadata = ImageMetadata());
    // A photo read from path: the output name follows the file. An empty path means a
    // picture without a file, which replaces no file but keeps the name.
    void openPhoto(const QImage& photo, const ImageMetadata& metadata, const QString& path);

    // The frame as read from its files (empty path: no frame). The photo goes back to its
    // unshifted place.
    void setFrame(const LoadedFrame& loaded, const QString& path, bool flipped);
    // A picture handed over alone, without a drawing, layout or post mask of its own.
    void setFrameImage(const QImage& frame);
    // The folder of the frame's set was renamed from one path to another: the frame shows
    // the same, but is read from the new folder when it is loaded again (a flip).
    void moveFrameFolder(const QString& from, const QString& to);

    // The photo's place in the frame, full-size pixels, y upward.
    void setOffset(QPointF offset);
    void setAutoRotate(bool autoRotate);

    // The frame colour: the chosen colour unless the background is transparent. Choosing
    // a colour wants it seen, so it turns the transparent background off; an invalid
    // colour changes nothing (false).
    bool setChosenColor(const QColor& color);
    QColor chosenColor() const { return _chosenColor; }
    void setTransparent(bool transparent);
    bool isTransparent() const { return _transparent; }
    std::optional<QColor> color() const { return _framed.color; }

    // The open photo's file (empty: none) and its folder, which outlives it: the first save
    // starts there.
    void setSourceFile(const QString& path);
    QString sourcePath() const { return _sourcePath; }
    QString sourceFolder() const { return _sourceFolder; }
    // The name the framed photo is written under, without extension.
    void setOutputName(const QString& name);
    QString outputName() const { return _outputName; }

signals:
    // Anything the framed picture shows changed; after the precise signals below.
    void changed();
    // The photo was replaced; its place was reset.
    void photoChanged();
    // The frame was replaced or mirrored; the photo's place was reset.
    void frameChanged();
    void colorChanged();
    void outputNameChanged(const QString& name);

private:
    void _updateColor();

    FramedPhoto _framed;
    QColor _chosenColor = Qt::white;
    bool _transparent = false;
    QString _sourcePath;
    QString _sourceFolder;
    QString _outputName;
};
