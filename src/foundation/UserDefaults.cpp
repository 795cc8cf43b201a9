#include "UserDefaults.h"

#include "DictionaryAccess.h"
#include "Logging.h"
#include "PropertyList.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

bool readPlist(QIODevice& device, QSettings::SettingsMap& map)
{
    const QVariant root = PropertyList::fromData(device.readAll());
    if (root.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap dict = root.toMap();
    for (auto it = dict.cbegin(); it != dict.cend(); ++it)
        map.insert(it.key(), it.value());
    return true;
}

bool writePlist(QIODevice& device, const QSettings::SettingsMap& map)
{
    QVariantMap dict;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        dict.insert(it.key(), it.value());
    const QByteArray data = PropertyList::toData(dict);
    return !data.isEmpty() && device.write(data) == data.size();
}

QSettings::Format plistFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("plist"), readPlist, writePlist);
    return format;
}

bool isIntegral(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

} // namespace

UserDefaults::UserDefaults(const QString& filePath, QObject* parent)
    : QObject(parent), _filePath(filePath)
{
    if (!QDir().mkpath(QFileInfo(_filePath).absolutePath()))
        qCWarning(lcVelluma, "The folder of the settings file %s could not be made",
                  qUtf8Printable(_filePath));
    setAsideIfUnreadable();
    _settings = std::make_unique<QSettings>(_filePath, plistFormat());
    _settings->setAtomicSyncRequired(true);
}

UserDefaults::~UserDefaults()
{
    synchronize();
}

UserDefaults& UserDefaults::standard()
{
    static UserDefaults* instance = new UserDefaults(standardPath());
    return *instance;
}

QString UserDefaults::standardPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Velluma/Velluma.plist");
}

void UserDefaults::setAsideIfUnreadable()
{
    const QFileInfo info(_filePath);
    if (!info.exists() && !info.isSymLink())
        return;
    if (info.isFile() && info.size() == 0)
        return;
    if (info.isFile() && PropertyList::fromFile(_filePath).typeId() == QMetaType::QVariantMap)
        return;

    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString backup = _filePath + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(backup); ++n)
        backup = _filePath + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') +
                 QString::number(n);
    if (QFile::rename(_filePath, backup) ||
        (QFile::copy(_filePath, backup) && QFile::remove(_filePath))) {
        _backupPath = backup;
        qWarning("Velluma: the settings file %s could not be read; it was kept as %s",
                 qPrintable(_filePath), qPrintable(backup));
    } else {
        qWarning("Velluma: the settings file %s could not be read and could not be moved aside",
                 qPrintable(_filePath));
    }
}

void UserDefaults::registerDefaults(const QVariantMap& defaults)
{
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
        const QVariant before = objectForKey(it.key());
        _registered.insert(it.key(), it.value());
        if (!hasStoredValue(it.key()) && before != it.value())
            emit valueChanged(it.key(), it.value());
    }
}

QVariant UserDefaults::objectForKey(const QString& key) const
{
    if (key.isEmpty())
        return {};
    QVariant stored = _settings->value(key);
    if (stored.isValid())
        return stored;
    return _registered.value(key);
}

bool UserDefaults::hasStoredValue(const QString& key) const
{
    return !key.isEmpty() && _settings->contains(key);
}

int UserDefaults::integerForKey(const QString& key) const
{
    return DictionaryAccess::integerValue(objectForKey(key));
}

bool UserDefaults::boolForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (isIntegral(v))
        return v.toLongLong() != 0;
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float)
        return v.toDouble() != 0.0;
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        return s == QLatin1String("yes") || s == QLatin1String("true") || s.toInt() != 0;
    }
    return false;
}

double UserDefaults::doubleForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::Bool || isIntegral(v) || v.typeId() == QMetaType::Double ||
        v.typeId() == QMetaType::Float || v.typeId() == QMetaType::QString) {
        bool ok = false;
        const double d = v.toDouble(&ok);
        return ok ? d : 0.0;
    }
    return 0.0;
}

QString UserDefaults::stringForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    if (isIntegral(v) || v.typeId() == QMetaType::Double)
        return v.toString();
    return {};
}

QVariantList UserDefaults::arrayForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList)
        return v.toList();
    return {};
}

QVariantMap UserDefaults::dictionaryForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::QVariantMap)
        return v.toMap();
    return {};
}

void UserDefaults::setObject(const QVariant& value, const QString& key)
{
    if (key.isEmpty())
        return;
    if (!value.isValid()) {
        removeObjectForKey(key);
        return;
    }
    const QVariant before = objectForKey(key);
    // The whole file is written at every change; storing what is stored already is none.
    const QVariant stored = _settings->value(key);
    if (stored.isValid() && stored == value &&
        (stored.typeId() == value.typeId() || (isIntegral(stored) && isIntegral(value))))
        return;
    _settings->setValue(key, value);
    synchronize();
    const QVariant after = objectForKey(key);
    if (before != after || before.typeId() != after.typeId())
        emit valueChanged(key, after);
}

void UserDefaults::removeObjectForKey(const QString& key)
{
    if (!hasStoredValue(key))
        return;
    const QVariant before = objectForKey(key);
    _settings->remove(key);
    synchronize();
    const QVariant after = objectForKey(key);
    if (before != after)
        emit valueChanged(key, after);
}

int UserDefaults::incrementIntegerForKey(const QString& key)
{
    const int next = integerForKey(key) + 1;
    setInteger(next, key);
    synchronize();
    return next;
}

bool UserDefaults::synchronize()
{
    _settings->sync();
    if (_settings->status() == QSettings::NoError)
        return true;
    qCWarning(lcVelluma, "The settings file %s could not be synchronised: %s",
              qUtf8Printable(_filePath),
              _settings->status() == QSettings::AccessError ? "access error" : "format error");
    return false;
}

QMetaObject::Connection UserDefaults::addObserver(const QStringList& keyPaths, QObject* context,
                                                  Observer observer)
{
    if (keyPaths.isEmpty() || !observer)
        return {};
    return connect(
        this, &UserDefaults::valueChanged, context,
        [keyPaths, observer = std::move(observer)](const QString& key, const QVariant& value) {
            if (keyPaths.contains(key))
                observer(key, value);
        });
}
