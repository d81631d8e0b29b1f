#include "core/files.h"

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

QByteArray checksumLine(const QString &hex, const QString &fileName)
{
    // sha256sum marks a line whose name needs escaping with a leading backslash.
    QString name = fileName;
    const bool escaped
        = name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char('\r'));
    if (escaped) {
        name.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        name.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        name.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    }
    return (escaped ? QByteArray("\\") : QByteArray()) + hex.toLatin1() + "  " + name.toUtf8() + '\n';
}
