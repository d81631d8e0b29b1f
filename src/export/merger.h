#pragma once
#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

/// What FFmpeg writes to standard error, read as it arrives: its version line and its last messages
/// (not the progress lines it rewrites in place), without the video server's account.
class FfmpegMessages
{
public:
    /// Texts never to repeat (the account's password), besides the user info of any URL.
    void setSecrets(const QStringList &secrets);
    void clear();
    void add(const QByteArray &chunk);
    QString versionLine() const;
    /// The frame rate of the first video stream FFmpeg described, once it has.
    std::optional<double> frameRate() const;
    /// The length of the first input, in seconds, once FFmpeg has said.
    std::optional<double> inputSeconds() const;
    /// The words for a run that ended with exitCode: the code and FFmpeg's last complaint.
    QString exitText(int exitCode);

private:
    void addLines(const QString &text);
    void readStreamFacts(const QString &line);

    /// Text after the last line end seen, completed by the next read.
    QString m_partialLine;
    QStringList m_secrets;
    QStringList m_lastLines;
    QString m_versionLine;
    std::optional<double> m_frameRate;
    std::optional<double> m_inputSeconds;
};

/// Runs FFmpeg to burn a subtitle script into the clip from the video server, writing the file the
/// operator chose, and reports its progress and end. merge() is the plain burn-in; the export runs its
/// own argument list through run(), with the same reports.
class Merger : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString filePath READ filePath WRITE setFilePath NOTIFY filePathChanged)
public:
    explicit Merger(QObject *parent = nullptr);
    ~Merger() override;

    QString filePath() const;
    void setFilePath(const QString &value);

    /// The FFmpeg executable, looked up on PATH.
    static QString programName();
    /// The frame count of the first progress line in a chunk of FFmpeg's standard error, if it holds one.
    static std::optional<QString> frameFromChunk(const QByteArray &chunk);
    /// Decodes a chunk as FFmpeg wrote it; anything after a NUL byte is not text.
    static QString decodeChunk(const QByteArray &chunk);
    /// The text with the password of any URL in it, and each of secrets, replaced by "***".
    static QString withoutCredentials(QString text, const QStringList &secrets);

    /// Runs FFmpeg with arguments, in workingDirectory (the program's own when empty), and reports as
    /// merge() does. A run still going is killed first, and its end reported.
    void run(const QStringList &arguments, const QString &workingDirectory = QString(),
        QIODevice::OpenMode mode = QIODevice::ReadWrite);
    /// Kills a running FFmpeg and waits for it to go; nothing more is heard of that run.
    void stop();
    /// What FFmpeg has said in the current run.
    FfmpegMessages &messages();
    /// How the last run failed as a process (not started, crashed, ...), once it has.
    std::optional<QProcess::ProcessError> processError() const;
    QString processErrorText() const;
    /// How the last run ended, once finished() has come.
    QProcess::ExitStatus exitStatus() const;
    int exitCode() const;
    /// FFmpeg's exit code and last complaint in words, for a run that ended with a code other than 0.
    QString exitText() const;

public slots:
    void merge(QString urlVideo, QString subFile);

signals:
    void started();
    void finished();
    void frameProcessed(QString frame);
    void errorOccured(QString message);
    void filePathChanged();

private:
    void reportStart();
    void onStandardError();
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void stopProcess();

    QProcess *m_process = nullptr;
    QString m_filePath;
    FfmpegMessages m_messages;
    bool m_startReported = false;
    std::optional<QProcess::ProcessError> m_processError;
    QString m_processErrorText;
    QProcess::ExitStatus m_exitStatus = QProcess::NormalExit;
    int m_exitCode = 0;
    QString m_exitText;
};
