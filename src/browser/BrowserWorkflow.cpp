#include "BrowserWorkflow.h"

#include <QDir>
#include <QFile>
#include <QList>

namespace {
// A workflow is a few lines; anything much larger is not one of ours.
constexpr qint64 kMaxDocumentSize = 64 * 1024;
} // namespace

bool BrowserWorkflow::read(const QString& path, BrowserWorkflow* out, QString* error)
{
    *out = BrowserWorkflow();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (file.size() > kMaxDocumentSize) {
        if (error)
            *error = QStringLiteral("the document is too large");
        return false;
    }
    *out = parse(file.read(kMaxDocumentSize));
    return true;
}

BrowserWorkflow BrowserWorkflow::parse(const QByteArray& text)
{
    BrowserWorkflow workflow;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QString value = QString::fromUtf8(line.mid(equals + 1));
        if (key == "WindowTitle")
            workflow.windowTitle = value;
        else if (key == "Application")
            workflow.application = value;
    }
    return workflow;
}

QString BrowserWorkflow::documentPathForExecutableFolder(const QString& folder)
{
    return QDir::cleanPath(folder + QStringLiteral("/../document.wflow"));
}
