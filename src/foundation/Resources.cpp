#include "Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
QString& overridePath()
{
    static QString path;
    return path;
}
} // namespace

namespace Resources {

QString path()
{
    if (!overridePath().isEmpty())
        return overridePath();
    // VELLUMA_RESOURCES lets a relocated install or a packaged build say where it is.
    const QString env = qEnvironmentVariable("VELLUMA_RESOURCES");
    if (!env.isEmpty() && QFileInfo(env).isDir())
        return QDir::cleanPath(env);
    if (QCoreApplication::instance()) {
        const QString relative =
            QCoreApplication::applicationDirPath() + QStringLiteral("/../share/velluma");
        if (QFileInfo(relative + QStringLiteral("/FactoryDefaults.plist")).exists())
            return QDir::cleanPath(relative);
    }
    QString installed = QStringLiteral(VELLUMA_INSTALL_RESOURCES);
    if (QFileInfo(installed + QStringLiteral("/FactoryDefaults.plist")).exists())
        return installed;
    return QStringLiteral(VELLUMA_SOURCE_RESOURCES);
}

QString pathFor(const QString& name)
{
    return path() + QLatin1Char('/') + name;
}

void setPathOverride(const QString& folder)
{
    overridePath() = folder;
}

} // namespace Resources
