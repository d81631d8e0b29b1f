#include "core/logfile.h"

#include <QMessageLogContext>
#include <QString>

#include <cstdlib>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

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

#ifdef Q_OS_WIN
// Opens "logs.txt" for appending, writes the line and closes the file again, so that every line is
// in the file when the handler returns and the file is never held open against the user.
void appendToLogFile(const QByteArray &line)
{
    const int fd = _wopen(L"logs.txt", _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return;
    _write(fd, line.constData(), static_cast<unsigned>(line.size()));
    _close(fd);
}
#else
// Every line goes to "logs.txt" in the current working directory and is in the file when the
// handler returns. Opening and closing the file for each line costs three system calls, and some
// modules log a line per record, so the descriptor is kept while the name still leads to the same
// file: a changed working directory or a log file deleted or moved away gets a fresh "logs.txt".
struct OpenLog {
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
};
OpenLog s_log;

bool stillTheLogFile()
{
    struct stat named;
    return s_log.fd >= 0 && ::stat("logs.txt", &named) == 0 && named.st_dev == s_log.device
        && named.st_ino == s_log.inode;
}

void openLogFile()
{
    if (s_log.fd >= 0)
        ::close(s_log.fd);
    s_log = OpenLog();
    const int fd = ::open("logs.txt", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    struct stat opened;
    if (::fstat(fd, &opened) != 0) {
        ::close(fd);
        return;
    }
    s_log.fd = fd;
    s_log.device = opened.st_dev;
    s_log.inode = opened.st_ino;
}

void appendToLogFile(const QByteArray &line)
{
    if (!stillTheLogFile())
        openLogFile();
    if (s_log.fd < 0)
        return;
    const char *data = line.constData();
    qint64 left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(s_log.fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        data += written;
        left -= written;
    }
}
#endif

} // namespace

QString formatLogLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Plain concatenation: the message text goes in as it is, place markers and all.
    const QString file = QString::fromUtf8(context.file);
    const QString function = QString::fromUtf8(context.function);
    const QString lineNumber = QString::number(context.line);
    const QString level = levelWord(type);
    QString line;
    line.reserve(level.size() + message.size() + file.size() + lineNumber.size() + function.size() + 10);
    line += level;
    line += QLatin1String(": ");
    line += message;
    line += QLatin1String(" (");
    line += file;
    line += QLatin1Char(':');
    line += lineNumber;
    line += QLatin1String(", ");
    line += function;
    line += QLatin1String(")\r\n");
    return line;
}

void myMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = formatLogLine(type, context, message).toUtf8();
    {
        std::lock_guard<std::recursive_mutex> lock(s_logMutex);
        appendToLogFile(line);
    }
    if (type == QtFatalMsg)
        std::abort();
}
