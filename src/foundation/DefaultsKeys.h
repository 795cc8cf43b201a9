#pragma once

#include <QString>

// The names under which the settings are stored.
inline const QString DefFileFormat = QStringLiteral("FileFormat");
inline const QString DefJpegQuality = QStringLiteral("JpegQuality");
inline const QString DefLimitFilesize = QStringLiteral("LimitFilesize");
inline const QString DefFilesizeLimit = QStringLiteral("FilesizeLimit");
inline const QString DefTransparentBackground = QStringLiteral("TransparentBackground");
inline const QString DefPreserveMetadata = QStringLiteral("PreserveMetadata");
inline const QString DefCheckForUpdatesAtStartup = QStringLiteral("CheckForUpdatesAtStartup");
inline const QString DefSUCheckAtStartup = QStringLiteral("SUCheckAtStartup");
inline const QString DefSUFeedURL = QStringLiteral("SUFeedURL");
inline const QString DefLaunchCount = QStringLiteral("LaunchCount");
inline const QString DefAskToShareOnFacebook = QStringLiteral("AskToShareOnFacebook");
inline const QString DefHideExtension = QStringLiteral("HideExtension");
inline const QString DefHideToolTips = QStringLiteral("HideToolTips");
inline const QString DefAutoRotateBorder = QStringLiteral("AutoRotateBorder");
inline const QString DefSelectedCollection = QStringLiteral("SelectedCollection");
inline const QString DefDestinations = QStringLiteral("Destinations");
inline const QString DefDefaultDestination = QStringLiteral("DefaultDestination");
// The folder saved into last: the save dialog starts there.
inline const QString DefLastSaveFolder = QStringLiteral("LastSaveFolder");
