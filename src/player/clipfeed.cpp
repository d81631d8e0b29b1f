#include "player/clipfeed.h"

#include "net/filedownload.h"
#include "player/growingfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

ClipFeed::ClipFeed(QObject *parent)
    : QObject(parent)
    , m_download(std::make_unique<FileDownload>())
{
    connect(
        m_download.get(), &FileDownload::stored, this, [this](qint64 written) { m_file->arrived(written, m_total); });
    connect(m_download.get(), &FileDownload::progress, this, [this](qint64 received, qint64 total) {
        m_total = total;
        m_file->arrived(m_download->written(), total);
        emit progress(received, total);
    });
    connect(m_download.get(), &FileDownload::succeeded, this, [this] {
        m_complete = true;
        m_file->finish(m_download->written());
        emit completed();
    });
    connect(m_download.get(), &FileDownload::failed, this, [this](const QString &message) {
        m_error = message;
        m_file->fail();
        emit failed(message);
    });
    connect(m_download.get(), &FileDownload::cancelled, this, [this] { m_file->close(); });
}

ClipFeed::~ClipFeed()
{
    cancel();
    if (m_file) {
        m_file->close();
        QFile::remove(m_file->path());
    }
}

bool ClipFeed::start(ServerClient &client, const QString &urlText, const QString &directory)
{
    // A name of its own, so that players and exports never share a file.
    QTemporaryFile reserved(QDir(directory).filePath(QStringLiteral("tillmark-clip-XXXXXX.mkv")));
    reserved.setAutoRemove(false);
    if (!reserved.open()) {
        m_error = tr("Can't make a file for the clip in \"%1\": %2")
                      .arg(QDir::toNativeSeparators(directory), reserved.errorString());
        return false;
    }
    const QString path = reserved.fileName();
    reserved.close();
    m_file = std::make_shared<GrowingFile>(path);
    m_download->setHashing(true);
    if (!m_download->start(client, urlText, path)) {
        m_error = tr("Can't write the clip to \"%1\": %2").arg(QDir::toNativeSeparators(path), m_download->openError());
        m_file->fail();
        QFile::remove(path);
        return false;
    }
    return true;
}

void ClipFeed::cancel()
{
    m_download->cancel();
}

std::shared_ptr<GrowingFile> ClipFeed::file() const
{
    return m_file;
}

bool ClipFeed::isRunning() const
{
    return m_download->isRunning();
}

bool ClipFeed::isComplete() const
{
    return m_complete;
}

QString ClipFeed::path() const
{
    return m_file ? m_file->path() : QString();
}

QString ClipFeed::peerFingerprint() const
{
    return m_complete ? m_download->peerFingerprint() : QString();
}

QString ClipFeed::sha256() const
{
    return m_complete ? m_download->sha256() : QString();
}

QString ClipFeed::error() const
{
    return m_error;
}
