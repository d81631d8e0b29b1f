#pragma once
#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

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
    /// Keeps the last few message lines of FFmpeg, for saying why it failed.
    void rememberLines(const QString &text);
    void stopProcess();

    QProcess *m_process = nullptr;
    QString m_filePath;
    /// Text after the last line end seen, completed by the next read.
    QString m_partialLine;
    QStringList m_lastLines;
    bool m_startReported = false;
};
