#pragma once
#include <QObject>
#include <QString>

#include <memory>

class FileDownload;
class GrowingFile;
class ServerClient;

/// The bytes of one clip for the player: fetched through the program's own request path into a file
/// that the player reads while it grows, so that playback starts long before the clip is whole. The
/// clip's bytes are hashed as they arrive; once the transfer has completed, path() and sha256() name
/// the very bytes the server sent, for an export of the same window to use instead of fetching again.
class ClipFeed : public QObject
{
    Q_OBJECT
public:
    explicit ClipFeed(QObject *parent = nullptr);
    /// Cancels a transfer still running (its partial file is removed) and removes the fetched file.
    ~ClipFeed() override;

    /// Starts fetching urlText into a new file in directory. False, with error() saying why, when no
    /// file can be made there.
    bool start(ServerClient &client, const QString &urlText, const QString &directory);
    /// Stops a running transfer; its readers get an error and the partial file is removed.
    void cancel();

    std::shared_ptr<GrowingFile> file() const;
    bool isRunning() const;
    bool isComplete() const;
    /// The file the clip is fetched into.
    QString path() const;
    /// The SHA-256 of the whole clip once complete, else empty.
    QString sha256() const;
    /// The certificate the bytes came through, once complete; empty over plain HTTP.
    QString peerFingerprint() const;
    /// Why the transfer failed, in words; empty while it has not.
    QString error() const;

signals:
    void progress(qint64 received, qint64 total);
    void completed();
    void failed(const QString &message);

private:
    std::unique_ptr<FileDownload> m_download;
    std::shared_ptr<GrowingFile> m_file;
    QString m_error;
    /// What the server announced, -1 until known.
    qint64 m_total = -1;
    bool m_complete = false;
};
