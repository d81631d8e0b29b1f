#pragma once
#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

/// Silences the program's debug output, which would dominate the time of every run.
inline void fuzzQuiet()
{
    static bool done = false;
    if (!done) {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        done = true;
    }
}

inline QByteArray fuzzBytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}
