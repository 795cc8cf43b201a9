#include "OutputSettings.h"

#include "foundation/PropertyList.h"
#include "foundation/Resources.h"
#include "foundation/UserDefaults.h"
#include "foundation/ZTUtility.h"

#include <QDir>

namespace {
const QString kUpdateHost = QStringLiteral("https://updates.velluma.app/");
const QString kFeedPath = QStringLiteral("velluma/appcast-105.xml");
} // namespace

OutputSettings::OutputSettings(UserDefaults& defaults, QObject* parent)
    : QObject(parent), _defaults(defaults)
{
    // Limit and size changes can come from the controls that edit the defaults directly,
    // not only from the setters.
    _defaults.addObserver({DefFilesizeLimit, DefLimitFilesize}, this,
                          [this](const QString&, const QVariant&) { emit outputStale(); });
}

FileFormat OutputSettings::fileFormat() const
{
    return fileFormatForCode(_defaults.integerForKey(DefFileFormat));
}

int OutputSettings::jpegQuality() const
{
    return _defaults.integerForKey(DefJpegQuality);
}

bool OutputSettings::limitFilesize() const
{
    return lossyFormat() && _defaults.boolForKey(DefLimitFilesize);
}

int OutputSettings::filesizeLimit() const
{
    return _defaults.integerForKey(DefFilesizeLimit);
}

bool OutputSettings::transparentBackground() const
{
    return transparentBackgroundSupported() && _defaults.boolForKey(DefTransparentBackground);
}

bool OutputSettings::preserveMetadata() const
{
    return metadataSupported() && _defaults.boolForKey(DefPreserveMetadata);
}

bool OutputSettings::lossyFormat() const
{
    return isLossyFormat(fileFormat());
}

bool OutputSettings::transparentBackgroundSupported() const
{
    return fileFormat() != FileFormat::Jpeg;
}

bool OutputSettings::metadataSupported() const
{
    return fileFormat() != FileFormat::Png;
}

void OutputSettings::emitDerived()
{
    emit transparentBackgroundChanged(transparentBackground());
    emit limitFilesizeChanged(limitFilesize());
    emit preserveMetadataChanged(preserveMetadata());
}

void OutputSettings::setFileFormat(FileFormat format)
{
    _defaults.setInteger(codeForFileFormat(format), DefFileFormat);
    emit fileFormatChanged(fileFormat());
    emitDerived();
    emit borderColorNeeded(transparentBackground());
    emit outputStale();
}

void OutputSettings::setJpegQuality(int quality)
{
    _defaults.setInteger(quality, DefJpegQuality);
    emit jpegQualityChanged(jpegQuality());
    emit outputStale();
}

void OutputSettings::setLimitFilesize(bool limit)
{
    // The defaults observation reports the staleness.
    _defaults.setBool(limit, DefLimitFilesize);
    emit limitFilesizeChanged(limitFilesize());
}

void OutputSettings::setTransparentBackground(bool transparent)
{
    _defaults.setBool(transparent, DefTransparentBackground);
    emit transparentBackgroundChanged(transparentBackground());
    emit borderColorNeeded(transparent);
    emit outputStale();
}

void OutputSettings::setPreserveMetadata(bool preserve)
{
    _defaults.setBool(preserve, DefPreserveMetadata);
    emit preserveMetadataChanged(preserveMetadata());
    emit outputStale();
}

QVariantMap OutputSettings::factoryDefaults()
{
    return factoryDefaults(Resources::pathFor(QStringLiteral("FactoryDefaults.plist")));
}

QVariantMap OutputSettings::factoryDefaults(const QString& plistPath)
{
    QVariantMap dict = PropertyList::fromFile(plistPath).toMap();
    // Shipped destinations name folders of the user's home as "~/Pictures"; the home is
    // only known here.
    QVariantList destinations = dict.value(DefDestinations).toList();
    for (QVariant& record : destinations) {
        QVariantMap r = record.toMap();
        const QString path = r.value(QStringLiteral("destination")).toString();
        if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
            r.insert(QStringLiteral("destination"), QDir::homePath() + path.mid(1));
        record = r;
    }
    if (dict.contains(DefDestinations))
        dict.insert(DefDestinations, destinations);
    if (ZTUtility::systemVersion() >= 0x1050)
        dict.insert(DefSUFeedURL, kUpdateHost + kFeedPath);
    return dict;
}
