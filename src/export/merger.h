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
    QStringList m_lastLines;
    QString m_versionLine;
    std::optional<double> m_frameRate;
    std::optional<double> m_inputSeconds;
};

/// Runs FFmpeg to burn a subtitle script into the clip from the video server, writing the file the
/// operator chose, and reports its progress and end.
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
    /// The text with the password of any URL in it, and the password of the settings, replaced by "***".
    static QString withoutCredentials(QString text);

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
};
