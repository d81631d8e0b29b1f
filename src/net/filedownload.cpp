#include "net/filedownload.h"

#include "core/sha256.h"
#include "net/certificatetrust.h"
#include "net/request.h"
#include "net/serverclient.h"

#include <QFile>
#include <QNetworkReply>

namespace {
constexpr qint64 kReadBufferSize = 1 << 20;
} // namespace

FileDownload::FileDownload(QObject *parent)
    : QObject(parent)
{
}

FileDownload::~FileDownload()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

bool FileDownload::start(ServerClient &client, const QString &urlText, const QString &path)
{
    if (isRunning())
        return false;
    m_path = path;
    m_openError.clear();
    auto file = std::make_unique<QFile>(path);
    // Unbuffered, so that a full disk shows in the result of the write that hit it.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_openError = file->errorString();
        return false;
    }
    m_file = std::move(file);
    m_written = 0;
    m_sha256.clear();
    m_peerFingerprint.clear();
    m_hash.reset(); // nothing of an earlier transfer
    if (m_hashing) {
        m_hash = std::make_unique<BackgroundSha256>();
        connect(m_hash.get(), &BackgroundSha256::drained, this, [this] {
            m_waitingForHash = false;
            onReadyRead();
        });
        connect(m_hash.get(), &BackgroundSha256::finished, this, &FileDownload::onDigest);
    }
    m_waitingForHash = false;
    m_finishing = false;
    m_cancelling = false;

    QNetworkReply *reply = client.get(urlText);
    m_reply = reply;
    // A bounded read buffer, drained on every readyRead, keeps the clip out of memory: without it the
    // network thread can run ahead of this thread and hold gigabytes until the file catches up.
    reply->setReadBufferSize(kReadBufferSize);
    connect(reply, &QNetworkReply::readyRead, this, &FileDownload::onReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &FileDownload::onProgress);
    connect(reply, &QNetworkReply::finished, this, &FileDownload::onFinished);
    return true;
}

void FileDownload::cancel()
{
    if (m_finishing) {
        m_finishing = false;
        m_hash.reset();
        QFile::remove(m_path);
        emit cancelled();
        return;
    }
    if (!isRunning())
        return;
    m_cancelling = true;
    m_reply->abort(); // finishes the reply at once; onFinished tells the cancel from a failure
}

void FileDownload::setHashing(bool on)
{
    m_hashing = on;
}

QString FileDownload::sha256() const
{
    return m_sha256;
}

bool FileDownload::isRunning() const
{
    return !m_reply.isNull() || m_finishing;
}

QString FileDownload::path() const
{
    return m_path;
}

QString FileDownload::openError() const
{
    return m_openError;
}

QFile *FileDownload::file() const
{
    return m_file.get();
}

qint64 FileDownload::written() const
{
    return m_written;
}

QNetworkReply *FileDownload::reply() const
{
    return m_reply;
}

QString FileDownload::peerFingerprint() const
{
    return m_peerFingerprint;
}

void FileDownload::onReadyRead()
{
    if (m_file && m_reply && !m_waitingForHash)
        write(m_reply->readAll());
}

void FileDownload::onProgress(qint64 received, qint64 total)
{
    // Stopped on a failed write or a cancel: the abort reports its last figures on the closed reply.
    if (!m_file || !m_reply || !m_reply->isOpen() || m_cancelling)
        return;
    if (!m_waitingForHash && !write(m_reply->readAll()))
        return; // the abort has already run the finish handler
    // At the end the network layer reports a total equal to what arrived even when the server
    // announced none; an unknown total stays unknown throughout.
    if (!m_reply->header(QNetworkRequest::ContentLengthHeader).isValid())
        total = -1;
    emit progress(received, total);
}

bool FileDownload::write(const QByteArray &data)
{
    if (store(data))
        return true;
    Request::abortWithReason(m_reply,
        tr("Writing \"%1\" failed (%2); the download was stopped and the file is incomplete.")
            .arg(m_path, m_file->errorString()));
    return false;
}

bool FileDownload::store(const QByteArray &data)
{
    if (data.isEmpty() || !m_file)
        return true;
    if (m_file->write(data) != data.size())
        return false;
    m_written += data.size();
    // Hashed as written, so that the digest is that of the file without reading it again.
    if (m_hash && !m_hash->addData(data))
        m_waitingForHash = true;
    emit stored(m_written);
    return true;
}

void FileDownload::onFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    reply->deleteLater();
    m_reply = nullptr;
    m_peerFingerprint = CertificateTrust::fingerprintOf(reply);
    if (m_cancelling) {
        closeFile();
        m_hash.reset();
        QFile::remove(m_path);
        emit cancelled();
        return;
    }
    QString error;
    if (reply->error() != QNetworkReply::NoError) {
        error = Request::errorText(reply);
    } else {
        if (!store(reply->readAll())) {
            error = tr("Writing \"%1\" failed (%2); the file is incomplete.").arg(m_path, m_file->errorString());
        } else {
            // The network layer may end a transfer whose connection dropped early without an error.
            const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
            if (announced.isValid() && m_written < announced.toLongLong()) {
                error = tr("The server ended the transfer early: %1 of %2 bytes arrived; \"%3\" is incomplete.")
                            .arg(m_written)
                            .arg(announced.toLongLong())
                            .arg(m_path);
            }
        }
    }
    closeFile();
    if (!error.isEmpty()) {
        m_hash.reset();
        emit failed(error);
        return;
    }
    if (!m_hash) {
        emit succeeded();
        return;
    }
    m_finishing = true;
    m_hash->finish();
}

void FileDownload::onDigest(const QString &hex)
{
    if (!m_finishing)
        return;
    m_finishing = false;
    m_sha256 = hex;
    m_hash.release()->deleteLater(); // inside its own signal
    emit succeeded();
}

void FileDownload::closeFile()
{
    if (m_file) {
        m_file->close();
        m_file.reset();
    }
}
