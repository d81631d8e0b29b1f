#pragma once
#include "core/common.h"

#include <QDateTime>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>

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
/// subtitle script "sub.ass" for the export.
class PosDownloader : public QObject
{
    Q_OBJECT
public:
    explicit PosDownloader(QObject *parent = nullptr);

    void download(QDateTime from, QDateTime to, QString streamId);
    QString convertToASS(QDateTime start, const QList<PosData> &records) const;

    /// The request for a window: both ends in UTC with milliseconds.
    static QString windowUrl(const QString &posBase, const QDateTime &from, const QDateTime &to);

public slots:
    void downloadByISODate(QDateTime from, QDateTime to, QString streamId);
    /// Kept for pages that call it; the export builds its clip URL elsewhere.
    void downloadVideoWithPos(QString streamId, QDateTime from, QDateTime to);

signals:
    void posDownloaded();
    void errorOccured(QString message);

private:
    /// Writes the whole script to "sub.ass"; on failure returns false and says why in error.
    static bool writeScript(const QString &script, QString *error);

    QNetworkAccessManager m_manager;
};
