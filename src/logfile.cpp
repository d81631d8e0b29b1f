#include "logfile.h"

#include <QFile>
#include <QMessageLogContext>
#include <QString>

#include <cstdlib>
#include <mutex>

namespace {

QString levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug");
    case QtInfoMsg:
        return QStringLiteral("Info");
    case QtWarningMsg:
        return QStringLiteral("Warning");
    case QtCriticalMsg:
        return QStringLiteral("Critical");
    case QtFatalMsg:
        return QStringLiteral("Fatal");
    }
    return QString();
}

// The framework may log from its own threads; appending whole lines one at a time keeps them apart.
std::recursive_mutex s_logMutex;

} // namespace

QString formatLogLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // One multi-argument arg() fills every place marker in a single pass, so a "%2" inside the
    // message text is never taken for a marker.
    return QStringLiteral("%1: %2 (%3:%4, %5)\r\n")
        .arg(levelWord(type), message, QString::fromUtf8(context.file), QString::number(context.line),
            QString::fromUtf8(context.function));
}

void myMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = formatLogLine(type, context, message).toUtf8();
    {
        std::lock_guard<std::recursive_mutex> lock(s_logMutex);
        QFile file(QStringLiteral("logs.txt"));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            file.write(line);
            file.close();
        }
    }
    if (type == QtFatalMsg)
        std::abort();
}
