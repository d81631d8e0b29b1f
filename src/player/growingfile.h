#pragma once
#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

class QFile;

/// A file that a transfer is still writing, read on the player's own threads as if it were whole: a
/// read or a seek past what has arrived waits until more arrives, the transfer ends or fails, or the
/// reader is let go. The writer's side is told from the GUI thread; the readers' side may run anywhere.
class GrowingFile
{
public:
    enum class State { Growing, Complete, Failed, Closed };

    explicit GrowingFile(const QString &path);
    /// A file that is already whole.
    static std::shared_ptr<GrowingFile> complete(const QString &path, qint64 size);

    QString path() const;

    /// The transfer has written bytes to the file so far; total is what it expects in all, -1 when
    /// the server announced no length.
    void arrived(qint64 bytes, qint64 total);
    /// The transfer has ended with bytes, all there will be.
    void finish(qint64 bytes);
    void fail();
    /// Every reader, waiting or not, gets an error from now on.
    void close();

    State state() const;
    qint64 arrivedBytes() const;

    /// One reader's position in the file, for one stream of the player.
    class Reader
    {
    public:
        explicit Reader(std::shared_ptr<GrowingFile> file);
        ~Reader();
        Reader(const Reader &) = delete;
        Reader &operator=(const Reader &) = delete;

        /// As read(2): the bytes read, 0 at the end of a whole file, -1 on a failed transfer, a closed
        /// file or a cancelled reader.
        int64_t read(char *buffer, uint64_t size);
        /// The new position, or -1 when the position cannot be reached.
        int64_t seek(int64_t offset);
        /// The whole size once known (announced or complete), else -1.
        int64_t size() const;
        /// Ends any current or later wait of this reader with an error; any thread, never blocks.
        void cancel();

    private:
        /// Waits until offset bytes have arrived or no more will; true when they are there.
        bool waitFor(qint64 offset);

        std::shared_ptr<GrowingFile> m_file;
        std::unique_ptr<QFile> m_handle;
        qint64 m_position = 0;
        bool m_cancelled = false; // guarded by the file's mutex
    };

private:
    const QString m_path;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::Growing;
    qint64 m_arrived = 0;
    qint64 m_total = -1;
};

/// Bytes held in memory, read as a stream (the receipts script).
class MemoryStream
{
public:
    explicit MemoryStream(QByteArray bytes);
    int64_t read(char *buffer, uint64_t size);
    int64_t seek(int64_t offset);
    int64_t size() const { return m_bytes.size(); }

private:
    const QByteArray m_bytes;
    qint64 m_position = 0;
};
