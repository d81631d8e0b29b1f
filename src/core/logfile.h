#pragma once
#include <QtGlobal>

class QMessageLogContext;
class QString;

/// Process-wide message handler: appends one CRLF-terminated UTF-8 line per message to "logs.txt"
/// in the working directory and writes nothing anywhere else. A fatal message aborts after its line.
void myMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &message);

/// The line myMessageOutput writes for a message, without the file around it.
QString formatLogLine(QtMsgType type, const QMessageLogContext &context, const QString &message);
