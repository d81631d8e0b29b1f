#pragma once
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class BackgroundSha256;
class QFile;
class QNetworkReply;
class ServerClient;

/// One GET streamed into a file. The bytes go to disk as they arrive, through a bounded read buffer,
/// so a clip of any size never sits in memory; a short write, or a transfer that ends before the
/// length the server announced, is an error and never a success. Hashed as written, when asked, on the
/// hashing threads: reading pauses while the hash lags too far behind, and succeeded() comes once the
/// digest is there. Ends with exactly one of succeeded(), failed() or cancelled().
class FileDownload : public QObject
{
    Q_OBJECT
public:
    explicit FileDownload(QObject *parent = nullptr);
    ~FileDownload() override;

    /// Opens path for writing (an existing file is truncated) and sends the request. False, with
    /// nothing sent and no signal, when the file cannot be opened; openError() then says why.
    bool start(ServerClient &client, const QString &urlText, const QString &path);
    /// Hash the bytes of the next start() as they are written; sha256() then gives the digest.
    void setHashing(bool on);
    /// Stops the transfer (or the wait for its digest), closes and removes the file, then emits
    /// cancelled(). Does nothing when no transfer runs.
    void cancel();

    bool isRunning() const;
    QString path() const;
    QString openError() const;
    /// The open file while the transfer runs, else null.
    QFile *file() const;
    qint64 written() const;
    /// The transfer's reply while it runs, else null.
    QNetworkReply *reply() const;
    /// The SHA-256 fingerprint of the certificate the bytes came through, once the transfer has ended;
    /// empty over plain HTTP.
    QString peerFingerprint() const;
    /// The SHA-256 of the bytes written, as hex, once succeeded() has come; else empty.
    QString sha256() const;

signals:
    /// Bytes received so far and the total the server announced, -1 when it announced none.
    void progress(qint64 received, qint64 total);
    /// Bytes are in the file: written() of them in all. Unlike progress(), which the network layer
    /// reports at most every so often, this comes for every write, so that a reader of the growing
    /// file learns of the last bytes before a pause too.
    void stored(qint64 written);
    void succeeded();
    void failed(const QString &message);
    void cancelled();

private:
    void onReadyRead();
    void onProgress(qint64 received, qint64 total);
    void onFinished();
    /// The transfer and its digest are complete.
    void onDigest(const QString &hex);
    /// Writes all of data; on a short write stops the transfer with the reason and returns false.
    bool write(const QByteArray &data);
    /// Writes, counts and hashes data; false on a short write.
    bool store(const QByteArray &data);
    void closeFile();

    QString m_path;
    QString m_openError;
    std::unique_ptr<QFile> m_file;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<BackgroundSha256> m_hash;
    bool m_hashing = false;
    /// The hash lags too far behind: the reply's bounded buffer holds the bytes until it has caught up.
    bool m_waitingForHash = false;
    /// The transfer has ended well; the digest is still being made.
    bool m_finishing = false;
    QString m_sha256;
    QString m_peerFingerprint;
    qint64 m_written = 0;
    bool m_cancelling = false;
};
