#include "PhotoList.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace PhotoList {

bool read(const QString& file, bool nul, QList<QByteArray>* names, QString* error)
{
    QFile list;
    const bool opened = file == QLatin1String("-")
                            ? list.open(stdin, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)
                            : (list.setFileName(file), list.open(QIODevice::ReadOnly));
    if (!opened) {
        *error = QCoreApplication::translate("PhotoList", "cannot read the list %1: %2")
                     .arg(file, list.errorString());
        return false;
    }
    const QByteArray text = list.readAll();
    if (list.error() != QFileDevice::NoError) {
        *error = QCoreApplication::translate("PhotoList", "cannot read the list %1: %2")
                     .arg(file, list.errorString());
        return false;
    }
    for (const QByteArray& name : text.split(nul ? '\0' : '\n')) {
        if (!name.isEmpty())
            names->append(name);
    }
    return true;
}

QList<QByteArray> shard(const QList<QByteArray>& names, int index, int count)
{
    QList<QByteArray> part;
    for (qsizetype i = index; i < names.size(); i += count)
        part.append(names.at(i));
    return part;
}

} // namespace PhotoList
