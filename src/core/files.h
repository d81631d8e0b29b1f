#pragma once
#include <QByteArray>
#include <QString>

/// Writes all of bytes to path (an existing file is truncated) and closes it; the file's error text
/// when that failed, else empty. For files another program reads next or that must be whole: a short
/// write is an error the caller hears about.
QString writeWholeFile(const QString &path, const QByteArray &bytes);

/// One line of a checksum file as sha256sum writes it, so that "sha256sum -c" reads it.
QByteArray checksumLine(const QString &hex, const QString &fileName);
