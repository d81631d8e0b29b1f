#pragma once
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>

#ifndef TILLMARK_SIM_PATH
#error "TILLMARK_SIM_PATH must name the tillmark-sim program"
#endif

/// The simulated servers as a child process on free ports of 127.0.0.1, for tests and benchmarks.
/// Stopped (SIGTERM, then killed if it lingers) when the object goes, and by itself when the process that
/// started it ends without stopping it.
class SimProcess
{
public:
    SimProcess() = default;
    ~SimProcess()
    {
        if (m_process.state() != QProcess::NotRunning)
            stop();
    }
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    /// Starts the program with the given options on free ports (unless they name ports themselves) and
    /// waits for both "listening on" lines. False when it exits or stays silent instead.
    bool start(const QStringList &arguments = {}, int timeoutMs = 20000)
    {
        m_tls = arguments.contains(QStringLiteral("--tls"));
        // Should the test die without stopping it, the end of its input stops the simulator.
        QStringList all = arguments + QStringList { QStringLiteral("--exit-with-stdin") };
        if (!arguments.contains(QStringLiteral("--vms-port")))
            all << QStringLiteral("--vms-port") << QStringLiteral("0");
        if (!arguments.contains(QStringLiteral("--pos-port")))
            all << QStringLiteral("--pos-port") << QStringLiteral("0");
        m_process.start(QStringLiteral(TILLMARK_SIM_PATH), all);
        if (!m_process.waitForStarted(timeoutMs))
            return false;
        static const QRegularExpression line(QStringLiteral("^(VMS|POS) listening on 127\\.0\\.0\\.1:(\\d+)$"));
        static const QRegularExpression certificate(QStringLiteral("^TLS certificate SHA-256 ([0-9A-F:]+)$"));
        QDeadlineTimer deadline(timeoutMs);
        while (m_vmsPort == 0 || m_posPort == 0) {
            if (!m_process.canReadLine() && !m_process.waitForReadyRead(int(deadline.remainingTime())))
                return false;
            while (m_process.canReadLine()) {
                const QString text = QString::fromUtf8(m_process.readLine()).trimmed();
                const QRegularExpressionMatch match = line.match(text);
                if (match.hasMatch())
                    (match.captured(1) == QLatin1String("VMS") ? m_vmsPort : m_posPort) = match.captured(2).toInt();
                const QRegularExpressionMatch fingerprint = certificate.match(text);
                if (fingerprint.hasMatch())
                    m_fingerprint = fingerprint.captured(1);
            }
        }
        return true;
    }

    /// start() with HTTPS on both ports: the certificate of --cert and --key among the arguments, or else
    /// the simulator's own, kept in the data folder of the environment (XDG_DATA_HOME) it is given.
    bool startTls(const QStringList &arguments = {}, int timeoutMs = 20000)
    {
        return start(arguments + QStringList { QStringLiteral("--tls") }, timeoutMs);
    }

    /// Runs before every stop: a test lets go of the connections its process keeps open to the servers,
    /// which would otherwise wait on them (their keep-alive) before they can end.
    static std::function<void()> &beforeStop()
    {
        static std::function<void()> hook;
        return hook;
    }

    /// SIGTERM and wait; true when the program ended by itself, with exit code 0, within the time.
    bool stop(int timeoutMs = 10000)
    {
        if (beforeStop())
            beforeStop()();
        m_process.terminate();
        if (!m_process.waitForFinished(timeoutMs)) {
            m_process.kill();
            m_process.waitForFinished();
            return false;
        }
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

    /// For a start that failed: true once the program has ended, by itself, within the time.
    bool waitForExit(int timeoutMs = 10000)
    {
        return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
    }

    int vmsPort() const { return m_vmsPort; }
    int posPort() const { return m_posPort; }
    /// "http://127.0.0.1:<port>", or "https://..." when started with TLS
    QString vmsBase() const { return scheme() + QStringLiteral("://127.0.0.1:%1").arg(m_vmsPort); }
    QString posBase() const { return scheme() + QStringLiteral("://127.0.0.1:%1").arg(m_posPort); }
    /// The SHA-256 fingerprint of the certificate it serves, as it printed it; empty without TLS.
    QString certificateFingerprint() const { return m_fingerprint; }
    qint64 pid() const { return m_process.processId(); }
    QProcess &process() { return m_process; }

private:
    QString scheme() const { return m_tls ? QStringLiteral("https") : QStringLiteral("http"); }

    QProcess m_process;
    int m_vmsPort = 0;
    int m_posPort = 0;
    bool m_tls = false;
    QString m_fingerprint;
};
