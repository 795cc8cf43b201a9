#pragma once

#include "output/FileFormat.h"

#include <QIcon>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <functional>

// The small document icon that stands for the framed photo as a file: dragging it to a
// file manager, an upload field or a chat window hands over a real file in the output
// format. The file is written as soon as the mouse enters, before any button goes down, so
// it exists when the drag starts; the drag then only carries its URL.
//
// The view knows nothing of the document: whoever places it says how the file is made
// (setPreparer) and hears when a drag starts (dragStarted).
class ProxyView : public QWidget {
    Q_OBJECT
public:
    // Writes the file for the next drag and answers its path, or empty when there is no
    // photo or writing failed.
    using Preparer = std::function<QString()>;

    explicit ProxyView(QWidget* parent = nullptr);

    void setPreparer(Preparer preparer) { _preparer = std::move(preparer); }
    // The document icon of the format's file type.
    void setFileFormat(FileFormat format);
    static QString iconNameForFormat(FileFormat format);
    QIcon image() const { return _image; }
    void setImage(const QIcon& image);
    // The tooltip while enabled; a disabled proxy has none.
    void setEnabledToolTip(const QString& text);
    QString tmpPath() const { return _tmpPath; }

    QSize sizeHint() const override { return QSize(36, 36); }

signals:
    void dragStarted(const QString& path);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;

private:
    void _setTmpPath(const QString& path);
    void _setMouseDown(bool down);
    void _updateState();

    Preparer _preparer;
    QString _tmpPath;
    QIcon _image;
    QString _toolTip;
    QPoint _pressPos;
    bool _mouseDown = false;
};
