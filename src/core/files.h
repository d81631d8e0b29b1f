#pragma once
#include <QByteArray>
#include <QString>

/// Writes all of bytes to path and closes it; the file's error text when that failed, else empty.
QString writeWholeFile(const QString &path, const QByteArray &bytes);

/// One line of a checksum file as sha256sum writes it, so that "sha256sum -c" reads it.
QByteArray checksumLine(const QString &hex, const QString &fileName);
