#include "export/merger.h"

#include <QDebug>
#include <QRegularExpression>
#include <QUrl>

namespace {

/// Enough to hold FFmpeg's closing complaint and what led to it.
const int kKeptLines = 5;

/// The status lines FFmpeg rewrites in place while it works; they say nothing about a failure.
bool isProgressLine(const QString &line)
{
    return line.startsWith(QLatin1String("frame=")) || line.startsWith(QLatin1String("size="));
}

} // namespace

void FfmpegMessages::setSecrets(const QStringList &secrets)
{
    m_secrets = secrets;
    m_secrets.removeAll(QString());
}

void FfmpegMessages::clear()
{
    m_partialLine.clear();
    m_lastLines.clear();
    m_versionLine.clear();
    m_frameRate.reset();
    m_inputSeconds.reset();
}

void FfmpegMessages::add(const QByteArray &chunk)
{
    addLines(Merger::decodeChunk(chunk));
}

QString FfmpegMessages::versionLine() const
{
    return m_versionLine;
}

std::optional<double> FfmpegMessages::frameRate() const
{
    return m_frameRate;
}

std::optional<double> FfmpegMessages::inputSeconds() const
{
    return m_inputSeconds;
}

void FfmpegMessages::addLines(const QString &text)
{
    const QString all = m_partialLine + text;
    int begin = 0;
    for (int i = 0; i < all.size(); ++i) {
        const QChar c = all.at(i);
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            continue;
        const QString line = all.mid(begin, i - begin).trimmed();
        begin = i + 1;
        if (line.isEmpty() || isProgressLine(line))
            continue;
        if (m_versionLine.isEmpty() && line.startsWith(QLatin1String("ffmpeg version ")))
            m_versionLine = line;
        readStreamFacts(line);
        m_lastLines.append(Merger::withoutCredentials(line, m_secrets));
        if (m_lastLines.size() > kKeptLines)
            m_lastLines.removeFirst();
    }
    m_partialLine = all.mid(begin);
}

void FfmpegMessages::readStreamFacts(const QString &line)
{
    // "Duration: 00:03:00.00, start: ..." of the first input, and its video stream,
    // "Stream #0:0: Video: h264 (High), yuv420p(progressive), 1920x1080, 25 fps, 25 tbr, 1k tbn".
    static const QRegularExpression duration(QStringLiteral("^Duration: (\\d+):(\\d\\d):(\\d\\d(?:\\.\\d+)?)"));
    static const QRegularExpression rate(QStringLiteral(", (\\d+(?:\\.\\d+)?) (?:fps|tbr)\\b"));
    if (!m_inputSeconds) {
        const QRegularExpressionMatch match = duration.match(line);
        if (match.hasMatch()) {
            m_inputSeconds = match.captured(1).toDouble() * 3600 + match.captured(2).toDouble() * 60
                + match.captured(3).toDouble();
        }
    }
    if (!m_frameRate && line.startsWith(QLatin1String("Stream #")) && line.contains(QLatin1String(": Video: "))) {
        const QRegularExpressionMatch match = rate.match(line);
        if (match.hasMatch() && match.captured(1).toDouble() > 0)
            m_frameRate = match.captured(1).toDouble();
    }
}

QString FfmpegMessages::exitText(int exitCode)
{
    addLines(QStringLiteral("\n"));
    if (!m_lastLines.isEmpty())
        qDebug() << "FFmpeg's last messages:" << m_lastLines;
    return m_lastLines.isEmpty()
        ? Merger::tr("FFmpeg ended with exit code %1.").arg(exitCode)
        : Merger::tr("FFmpeg ended with exit code %1: %2").arg(QString::number(exitCode), m_lastLines.constLast());
}

Merger::Merger(QObject *parent)
    : QObject(parent)
{
}

Merger::~Merger()
{
    // Nobody is left to hear about the end of a run killed here.
    if (m_process)
        m_process->disconnect(this);
    stopProcess();
}

QString Merger::filePath() const
{
    return m_filePath;
}

void Merger::setFilePath(const QString &value)
{
    if (m_filePath == value)
        return;
    m_filePath = value;
    emit filePathChanged();
}

QString Merger::programName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("ffmpeg.exe");
#else
    return QStringLiteral("ffmpeg");
#endif
}

QString Merger::decodeChunk(const QByteArray &chunk)
{
    return QString::fromUtf8(chunk.constData(), int(qstrnlen(chunk.constData(), uint(chunk.size()))));
}

std::optional<QString> Merger::frameFromChunk(const QByteArray &chunk)
{
    static const QRegularExpression progress(QStringLiteral("frame=(.+?)fps=.+?\\r"));
    const QRegularExpressionMatch match = progress.match(decodeChunk(chunk));
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).trimmed();
}

void Merger::merge(QString urlVideo, QString subFile)
{
    run({ QStringLiteral("-y"), QStringLiteral("-i"), urlVideo, QStringLiteral("-vf"),
        QStringLiteral("ass=%1").arg(subFile), m_filePath });
    // The input URL carries the account: its password is never repeated.
    m_messages.setSecrets({ QUrl(urlVideo, QUrl::TolerantMode).password() });
}

void Merger::run(const QStringList &arguments, const QString &workingDirectory, QIODevice::OpenMode mode)
{
    stopProcess();
    m_messages.clear();
    m_processError.reset();
    m_processErrorText.clear();
    m_exitStatus = QProcess::NormalExit;
    m_exitCode = 0;
    m_exitText.clear();

    m_process = new QProcess();
    if (!workingDirectory.isEmpty())
        m_process->setWorkingDirectory(workingDirectory);
    connect(m_process, &QProcess::readyReadStandardError, this, &Merger::onStandardError);
    m_startReported = false;
    connect(m_process, &QProcess::started, this, &Merger::reportStart);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        qDebug() << "errorOccurred";
        m_processError = error;
        m_processErrorText = m_process->errorString();
        emit errorOccured(QString::number(int(error)));
    });
    connect(m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &Merger::onFinished);
    m_process->start(programName(), arguments, mode);
}

void Merger::stop()
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    stopProcess();
}

FfmpegMessages &Merger::messages()
{
    return m_messages;
}

std::optional<QProcess::ProcessError> Merger::processError() const
{
    return m_processError;
}

QString Merger::processErrorText() const
{
    return m_processErrorText;
}

QProcess::ExitStatus Merger::exitStatus() const
{
    return m_exitStatus;
}

int Merger::exitCode() const
{
    return m_exitCode;
}

QString Merger::exitText() const
{
    return m_exitText;
}

void Merger::reportStart()
{
    if (m_startReported)
        return;
    m_startReported = true;
    qDebug() << "started";
    emit started();
}

void Merger::onStandardError()
{
    // The start and the first output of the child can be noticed in the same turn of the event loop,
    // in either order; the page must hear of the start before the first frame count.
    reportStart();
    const QByteArray chunk = m_process->readAllStandardError();
    m_messages.add(chunk);
    if (const std::optional<QString> frame = frameFromChunk(chunk))
        emit frameProcessed(*frame);
}

QString Merger::withoutCredentials(QString text, const QStringList &secrets)
{
    // FFmpeg names its input URL in its messages, and the URL carries the account: the user sees these
    // lines and they go to the log, where the password must never appear.
    static const QRegularExpression userInfo(QStringLiteral("([A-Za-z][A-Za-z0-9+.-]*://[^/@\\s:]*):[^@/\\s]*@"));
    text.replace(userInfo, QStringLiteral("\\1:***@"));
    for (const QString &secret : secrets) {
        if (secret.isEmpty())
            continue;
        text.replace(QString::fromLatin1(QUrl::toPercentEncoding(secret)), QStringLiteral("***"));
        text.replace(secret, QStringLiteral("***"));
    }
    return text;
}

void Merger::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    qDebug() << "finished";
    m_exitStatus = exitStatus;
    m_exitCode = exitCode;
    // A crash has already been reported through the process error.
    if (exitStatus == QProcess::NormalExit && exitCode != 0) {
        m_exitText = m_messages.exitText(exitCode);
        emit errorOccured(m_exitText);
    }
    emit finished();
}

void Merger::stopProcess()
{
    if (!m_process)
        return;
    // The run that is stopped reports its end (killed: error 1, then finished) before the next one
    // starts, so that no export dies without a word; only then are its signals let go.
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished();
    }
    m_process->disconnect(this);
    delete m_process;
    m_process = nullptr;
}
