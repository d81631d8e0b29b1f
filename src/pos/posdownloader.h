#pragma once
#include "core/common.h"
#include "pos/tillclocks.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class PosClient;
class QNetworkReply;

/// One receipt line and the interval in which it is on screen, in milliseconds from time 0 of the video.
struct LinePair {
    qint64 startMs = 0;
    /// First millisecond at which the line is gone.
    qint64 endMs = 0;
    /// How long the line extends its receipt's display; only logged.
    qint64 holdMs = 0;
    QString text;
};

/// The ASS subtitle script that shows the receipts of records over a video starting at start.
QString _convertToAss(QDateTime start, const QList<PosData> &records);
/// A script time stamp, "H:MM:SS.00" with at least two hour digits; sub-second parts are dropped.
QString _formatTime(qint64 ms);

/// Fetches the POS transactions of a time window seen by one camera and writes them as the
/// subtitle script "sub.ass" for the export. The export keeps the receipts and the script of the last
/// window fetched, for its package.
class PosDownloader : public QObject
{
    Q_OBJECT
public:
    explicit PosDownloader(QObject *parent = nullptr);
    /// Downloads still in flight end without a word.
    ~PosDownloader() override;

    /// The POS server asked: the one of the connection settings unless another is given.
    PosClient *client() const;
    void setClient(PosClient *client);

    /// Fetches the receipts of streamId from from to to on the video's clock: those the tills' offsets put
    /// there, with their times moved onto it (see windowOnVideoClock), and the script made of them.
    void download(QDateTime from, QDateTime to, QString streamId, const TillOffsets &offsets = TillOffsets());
    QString convertToASS(QDateTime start, const QList<PosData> &records) const;

    /// The receipts of the camera in the window whose download last ended with posDownloaded(), in the
    /// reply's order and on the video's clock, and the script made of them as written (UTF-8).
    const QList<PosData> &records() const;
    const QByteArray &script() const;
    /// Drops every download in flight: neither posDownloaded() nor errorOccured() follows for them.
    void cancel();
    /// The last errorOccured() said that "sub.ass" could not be written, not that the server failed.
    bool lastFailureWasWrite() const;
    /// The SHA-256 fingerprint of the certificate the records() came through; empty over plain HTTP.
    QString peerFingerprint() const;

public slots:
    void downloadByISODate(QDateTime from, QDateTime to, QString streamId);
    /// Kept for pages that call it; the export builds its clip URL elsewhere.
    void downloadVideoWithPos(QString streamId, QDateTime from, QDateTime to);

signals:
    void posDownloaded();
    void errorOccured(QString message);

private:
    /// Writes the whole script to "sub.ass"; on failure returns false and says why in error.
    static bool writeScript(const QByteArray &script, QString *error);

    QPointer<PosClient> m_client;
    QList<QPointer<QNetworkReply>> m_replies;
    QList<PosData> m_records;
    QByteArray m_script;
    QString m_peerFingerprint;
    bool m_lastFailureWasWrite = false;
};
