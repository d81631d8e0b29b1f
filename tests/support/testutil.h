#pragma once
#include "net/posclient.h"
#include "net/vmsclient.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <ctime>

/// Runs a test in a fresh, empty working directory, where the program writes its working files,
/// and goes back to where it was afterwards.
class WorkDir
{
public:
    WorkDir()
        : m_previous(QDir::currentPath())
    {
        QDir::setCurrent(m_dir.path());
    }
    ~WorkDir() { QDir::setCurrent(m_previous); }
    WorkDir(const WorkDir &) = delete;
    WorkDir &operator=(const WorkDir &) = delete;

    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};

/// Lets go of the connections that the program's clients of the two servers keep open for their next
/// request (kept for the whole run, as the program keeps them), so that a test's servers, which wait
/// on open connections before they end, stop at once.
inline void closeServerConnections()
{
    VmsClient::shared()->forgetConnections();
    PosClient::shared()->forgetConnections();
    // Twice: replies go first, then the managers that carried them.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

/// A successful "/ec2/recordedTimePeriods" reply with one element holding the given
/// "startTimeMs"/"durationMs" pairs.
inline QByteArray periodsBody(const QList<QPair<QByteArray, QByteArray>> &periods)
{
    QByteArray list;
    for (const auto &period : periods) {
        if (!list.isEmpty())
            list += ',';
        list += "{\"startTimeMs\":\"" + period.first + "\",\"durationMs\":\"" + period.second + "\"}";
    }
    return "{\"error\":\"0\",\"errorString\":\"\",\"reply\":[{\"guid\":\"{s}\",\"periods\":[" + list + "]}]}";
}

/// Starts a child process that does nothing and waits, under the event loop, until its end has been
/// delivered. What ended before it started (another process, a reply) has reported all it would by
/// then: a "nothing else happens" check goes after this, not after a fixed sleep.
inline bool waitForAnotherProcessToEnd(int timeoutMs = 30000)
{
    QProcess process;
    QSignalSpy finished(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    process.start(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), QStringLiteral(":") });
    return finished.wait(timeoutMs) && process.exitCode() == 0;
}

/// Writes an executable script into dir and puts dir first on PATH, in front of path: a stand-in for
/// a program the code under test starts (FFmpeg).
inline bool installStandIn(const QString &dir, const QString &name, const QByteArray &script, const QByteArray &path)
{
    const QString program = QDir(dir).filePath(name);
    if (!writeFile(program, script) || !QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner))
        return false;
    qputenv("PATH", QFile::encodeName(dir) + ":" + path);
    return true;
}

/// Sets the local time zone of the process (TZ) while it lives, then puts the previous one back.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const QByteArray &zone)
        : m_hadZone(qEnvironmentVariableIsSet("TZ"))
        , m_previous(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_hadZone)
            qputenv("TZ", m_previous);
        else
            qunsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

private:
    bool m_hadZone;
    QByteArray m_previous;
};

/// Collects the debug messages written while it lives, instead of logging them.
class DebugCapture
{
public:
    DebugCapture()
    {
        s_messages.clear();
        m_previous = qInstallMessageHandler(&DebugCapture::handler);
    }
    ~DebugCapture() { qInstallMessageHandler(m_previous); }
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    const QStringList &messages() const { return s_messages; }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        if (type == QtDebugMsg)
            s_messages << message;
    }
    static inline QStringList s_messages;
    QtMessageHandler m_previous = nullptr;
};
