#include "core/wholefile.h"

#include <QFile>

QString writeWholeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    bool ok
        = file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
    if (ok) {
        file.close();
        ok = file.error() == QFileDevice::NoError;
    }
    return ok ? QString() : file.errorString();
}
