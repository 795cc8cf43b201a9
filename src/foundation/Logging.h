#pragma once

#include <QLoggingCategory>
#include <QString>

// Failures that the program survives on its own (a damaged photo's metadata, a JPEG that
// could not be encoded, a settings file that could not be written) leave their reason here.
// Off by default; turn it on with QT_LOGGING_RULES="velluma*=true".
Q_DECLARE_LOGGING_CATEGORY(lcVelluma)

namespace Logging {

// Call only inside a catch handler: logs the exception being handled, with its what() when
// it has one, as "context (subject): what". Never throws, so that a handler of a failed
// allocation cannot fail again.
void logCaughtException(const char* context, const QString& subject = QString()) noexcept;

} // namespace Logging
