#pragma once

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>

// The user's settings: values stored in a property-list file through QSettings, with the
// registered (factory) values behind them. Reads never fail: a key that is neither stored
// nor registered reads as 0, NO, an empty string or an empty list.
//
// A settings file that cannot be read is moved aside (its name gains ".unreadable-" and a
// time stamp) before anything is written, so the program starts on the factory values and
// the user's old file survives for inspection.
class UserDefaults : public QObject {
    Q_OBJECT
public:
    explicit UserDefaults(const QString& filePath, QObject* parent = nullptr);
    ~UserDefaults() override;

    // The program's own settings, in ~/.config/Velluma/Velluma.plist.
    static UserDefaults& standard();
    static QString standardPath();

    QString filePath() const { return _filePath; }
    // Where an unreadable settings file was set aside at start, or empty.
    QString backupPath() const { return _backupPath; }

    // Adds to the registration domain; later registrations replace equal keys.
    void registerDefaults(const QVariantMap& defaults);

    QVariant objectForKey(const QString& key) const;
    bool hasStoredValue(const QString& key) const;
    int integerForKey(const QString& key) const;
    bool boolForKey(const QString& key) const;
    double doubleForKey(const QString& key) const;
    QString stringForKey(const QString& key) const;
    QVariantList arrayForKey(const QString& key) const;
    QVariantMap dictionaryForKey(const QString& key) const;

    void setObject(const QVariant& value, const QString& key);
    void setInteger(int value, const QString& key) { setObject(QVariant(value), key); }
    void setBool(bool value, const QString& key) { setObject(QVariant(value), key); }
    void setString(const QString& value, const QString& key) { setObject(QVariant(value), key); }
    void removeObjectForKey(const QString& key);

    // Stores the value's integer form plus one and writes the file at once.
    int incrementIntegerForKey(const QString& key);

    // Writes pending changes; false when the file could not be written.
    bool synchronize();

    using Observer = std::function<void(const QString& key, const QVariant& newValue)>;
    // One observer for several keys: called with the key and its new value whenever one
    // of them changes. Lives as long as context.
    QMetaObject::Connection addObserver(const QStringList& keyPaths, QObject* context,
                                        Observer observer);

signals:
    // The value read for key changed (stored, removed, or newly registered).
    void valueChanged(const QString& key, const QVariant& newValue);

private:
    void setAsideIfUnreadable();

    QString _filePath;
    QString _backupPath;
    QVariantMap _registered;
    std::unique_ptr<QSettings> _settings;
};
