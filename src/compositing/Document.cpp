#include "Document.h"

#include <QFileInfo>

Document::Document(QObject* parent) : QObject(parent)
{
    _updateColor();
}

void Document::setPhoto(const QImage& photo, const ImageMetadata& metadata)
{
    _framed.photo = photo;
    _framed.offset = QPointF();
    _framed.metadata = std::make_shared<const ImageMetadata>(metadata);
    emit photoChanged();
    emit changed();
}

void Document::openPhoto(const QImage& photo, const ImageMetadata& metadata, const QString& path)
{
    setPhoto(photo, metadata);
    if (path.isEmpty())
        _sourcePath.clear();
    else
        setSourceFile(path);
}

void Document::setFrame(const LoadedFrame& loaded, const QString& path, bool flipped)
{
    _framed.frame = loaded.frame;
    _framed.postMask = loaded.postMask;
    _framed.frameDrawing = loaded.frameDrawing;
    _framed.postMaskDrawing = loaded.postMaskDrawing;
    _framed.geometry = loaded.geometry;
    _framed.framePath = path;
    _framed.flipped = flipped;
    // A place chosen for one frame means nothing in another.
    _framed.offset = QPointF();
    emit frameChanged();
    emit changed();
}

void Document::setFrameImage(const QImage& frame)
{
    setFrame(LoadedFrame{frame, QImage(), nullptr, nullptr, FrameGeometry()}, QString(), false);
}

void Document::moveFrameFolder(const QString& from, const QString& to)
{
    const QString prefix = from + QLatin1Char('/');
    if (!from.isEmpty() && _framed.framePath.startsWith(prefix))
        _framed.framePath = to + _framed.framePath.mid(from.size());
}

void Document::setOffset(QPointF offset)
{
    if (offset == _framed.offset)
        return;
    _framed.offset = offset;
    emit changed();
}

void Document::setAutoRotate(bool autoRotate)
{
    if (autoRotate == _framed.autoRotate)
        return;
    _framed.autoRotate = autoRotate;
    emit changed();
}

bool Document::setChosenColor(const QColor& color)
{
    const QColor rgb = color.toRgb();
    if (!rgb.isValid())
        return false;
    _chosenColor = rgb;
    _transparent = false;
    _updateColor();
    return true;
}

void Document::setTransparent(bool transparent)
{
    _transparent = transparent;
    _updateColor();
}

void Document::_updateColor()
{
    std::optional<QColor> color;
    if (!_transparent)
        color = _chosenColor;
    _framed.color = color;
    emit colorChanged();
    emit changed();
}

void Document::setSourceFile(const QString& path)
{
    _sourcePath = path;
    if (!path.isEmpty())
        _sourceFolder = QFileInfo(path).absolutePath();
    setOutputName(path.isEmpty() ? QString() : QFileInfo(path).completeBaseName());
}

void Document::setOutputName(const QString& name)
{
    if (name == _outputName)
        return;
    _outputName = name;
    emit outputNameChanged(name);
}
