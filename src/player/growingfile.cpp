#include "player/growingfile.h"

#include <QFile>

#include <algorithm>
#include <cstring>

GrowingFile::GrowingFile(const QString &path)
    : m_path(path)
{
}

std::shared_ptr<GrowingFile> GrowingFile::complete(const QString &path, qint64 size)
{
    auto file = std::make_shared<GrowingFile>(path);
    file->finish(size);
    return file;
}

QString GrowingFile::path() const
{
    return m_path;
}

void GrowingFile::arrived(qint64 bytes, qint64 total)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != State::Growing)
            return;
        m_arrived = std::max(m_arrived, bytes);
        m_total = total;
    }
    m_changed.notify_all();
}

void GrowingFile::finish(qint64 bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != State::Growing)
            return;
        m_arrived = bytes;
        m_total = bytes;
        m_state = State::Complete;
    }
    m_changed.notify_all();
}

void GrowingFile::fail()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != State::Growing)
            return;
        m_state = State::Failed;
    }
    m_changed.notify_all();
}

void GrowingFile::close()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = State::Closed;
    }
    m_changed.notify_all();
}

GrowingFile::State GrowingFile::state() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

qint64 GrowingFile::arrivedBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_arrived;
}

GrowingFile::Reader::Reader(std::shared_ptr<GrowingFile> file)
    : m_file(std::move(file))
    , m_handle(std::make_unique<QFile>(m_file->path()))
{
}

GrowingFile::Reader::~Reader() = default;

bool GrowingFile::Reader::waitFor(qint64 offset)
{
    std::unique_lock<std::mutex> lock(m_file->m_mutex);
    m_file->m_changed.wait(
        lock, [&] { return m_cancelled || m_file->m_state != State::Growing || m_file->m_arrived >= offset; });
    if (m_cancelled || m_file->m_state == State::Closed)
        return false;
    return m_file->m_arrived >= offset || m_file->m_state == State::Complete;
}

int64_t GrowingFile::Reader::read(char *buffer, uint64_t size)
{
    if (size == 0)
        return 0;
    if (!waitFor(m_position + 1))
        return -1;
    const qint64 available = m_file->arrivedBytes() - m_position;
    if (available <= 0)
        return 0;
    // Opened on the first read, on the reader's own thread, once the writer has created the file.
    if (!m_handle->isOpen() && !m_handle->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return -1;
    if (m_handle->pos() != m_position && !m_handle->seek(m_position))
        return -1;
    const qint64 n = m_handle->read(buffer, std::min<qint64>(available, qint64(std::min<uint64_t>(size, 1 << 30))));
    if (n < 0)
        return -1;
    m_position += n;
    return n;
}

int64_t GrowingFile::Reader::seek(int64_t offset)
{
    if (offset < 0)
        return -1;
    {
        // A seek past what has arrived fails at once rather than waiting for the bytes between: the
        // demuxer then does without what lies there (an index at the end of the clip) and goes on
        // with what it has, instead of holding playback until the whole clip is in.
        std::lock_guard<std::mutex> lock(m_file->m_mutex);
        if (m_cancelled || m_file->m_state == State::Closed)
            return -1;
        if (offset > m_file->m_arrived && m_file->m_state != State::Complete)
            return -1;
    }
    m_position = offset;
    return offset;
}

int64_t GrowingFile::Reader::size() const
{
    std::lock_guard<std::mutex> lock(m_file->m_mutex);
    return m_file->m_total;
}

void GrowingFile::Reader::cancel()
{
    {
        std::lock_guard<std::mutex> lock(m_file->m_mutex);
        m_cancelled = true;
    }
    m_file->m_changed.notify_all();
}

MemoryStream::MemoryStream(QByteArray bytes)
    : m_bytes(std::move(bytes))
{
}

int64_t MemoryStream::read(char *buffer, uint64_t size)
{
    const qint64 n = std::max<qint64>(0, std::min<qint64>(m_bytes.size() - m_position, qint64(size)));
    std::memcpy(buffer, m_bytes.constData() + m_position, size_t(n));
    m_position += n;
    return n;
}

int64_t MemoryStream::seek(int64_t offset)
{
    if (offset < 0 || offset > m_bytes.size())
        return -1;
    m_position = offset;
    return offset;
}
