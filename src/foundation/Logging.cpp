#include "Logging.h"

#include <QException>

#include <exception>

Q_LOGGING_CATEGORY(lcVelluma, "velluma", QtCriticalMsg)

namespace Logging {

namespace {

void logWhat(const char* context, const QString& subject, const char* what)
{
    if (subject.isEmpty())
        qCWarning(lcVelluma, "%s: %s", context, what);
    else
        qCWarning(lcVelluma, "%s (%s): %s", context, qUtf8Printable(subject), what);
}

} // namespace

void logCaughtException(const char* context, const QString& subject) noexcept
{
    if (!lcVelluma().isWarningEnabled())
        return;
    try {
        try {
            throw;
        } catch (const QUnhandledException& e) {
            // What a thread of Qt Concurrent threw, carried over to the waiting thread.
            if (!e.exception())
                throw;
            std::rethrow_exception(e.exception());
        }
    } catch (const std::exception& e) {
        try {
            logWhat(context, subject, e.what());
        } catch (...) {
            // Out of memory even for the message: there is nowhere left to report to.
        }
    } catch (...) {
        try {
            logWhat(context, subject, "an exception that is no std::exception");
        } catch (...) {
            // As above.
        }
    }
}

} // namespace Logging
