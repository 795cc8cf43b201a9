#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QThreadPool>

// One folder as the browser shows it: its subfolders first, then its photos, each photo
// with a thumbnail made on a worker thread the first time the view asks for it. A photo
// whose thumbnail cannot be made (corrupt, hostile, not a regular file) leaves the grid.
// Files are named by their bytes, as the file system holds them: a name that is no UTF-8 is
// shown with U+FFFD in place of its odd bytes and still opens.
class PhotoGridModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int ThumbnailSize = 128;
    // A folder of more entries shows the first ones; the grid is for browsing, not for
    // holding a whole archive in memory.
    static constexpr int MaxEntries = 5000;
    // Pictures that claim more than this are corrupt or hostile headers, not photos.
    static constexpr qint64 MaxPixels = 120'000'000;

    // PathRole: the path to show; NativePathRole: its bytes, which open it.
    enum Role { PathRole = Qt::UserRole + 1, IsFolderRole, NativePathRole };

    explicit PhotoGridModel(QObject* parent = nullptr);
    ~PhotoGridModel() override;

    // Lists the folder; false (the model unchanged, the reason in *error) when it cannot
    // be read.
    bool setFolder(const QString& folder, QString* error = nullptr);
    bool setNativeFolder(const QByteArray& folder, QString* error = nullptr);
    QString folder() const;
    QByteArray nativeFolder() const { return _folder; }
    // True when the folder had more entries than are shown.
    bool isTruncated() const { return _truncated; }
    // Thumbnails asked for and not yet back.
    int pendingThumbnails() const { return _pending; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The thumbnail of a photo file, at most ThumbnailSize on its longer side and turned
    // upright; a null image and the reason in *error when the file is no readable picture.
    // Safe on any thread.
    static QImage makeThumbnail(const QByteArray& nativePath, QString* error = nullptr);
    static QImage makeThumbnail(const QString& path, QString* error = nullptr);
    static bool isPhotoName(const QString& fileName);

signals:
    // A photo of the current folder could not be shown and left the grid.
    void photoSkipped(const QString& path, const QString& reason);

private:
    struct Entry {
        QByteArray path;
        QString name;
        bool folder = false;
        enum class Thumbnail { NotAsked, Pending, Ready } thumbnail = Thumbnail::NotAsked;
        QPixmap pixmap;
    };

    void _request(int row) const;
    void _thumbnailMade(quint64 generation, const QByteArray& path, const QImage& image,
                        const QString& error);

    mutable QList<Entry> _entries;
    QByteArray _folder;
    bool _truncated = false;
    quint64 _generation = 0;
    mutable int _pending = 0;
    QIcon _folderIcon;
    QPixmap _placeholder;
    mutable QThreadPool _pool;
};
