#pragma once
#include "core/common.h"

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantList>

#include <functional>

class QAbstractItemModel;

/// Date and time arithmetic and formats for the pages, the clip URL handed to FFmpeg, the path behind
/// what a file dialog hands back, and the cameras a page offers. Keeps no state of its own; the clip URL
/// is made by the video server client handed in.
class Utils : public QObject
{
    Q_OBJECT
public:
    explicit Utils(QObject *parent = nullptr);
    ~Utils() override;

    /// The most recently constructed instance.
    static Utils *get();
    /// "yyyyMMdd_hhmmss" for file names, the year without added zeros.
    static QString downloadStamp(const QDateTime &dt);
    /// The path behind what a file or folder dialog hands back: a file URL, percent-encoded or not (a
    /// lone % that starts no escape is part of the name), or already a path; in the system's own form.
    static QString localPath(const QString &fileOrUrl);
    /// The cameras of first, then those of then that first lacks; none twice, none without an id.
    static QList<StreamData> mergeCameras(const QList<StreamData> &first, const QList<StreamData> &then);

    /// Who makes the clip URL of getVideoUrl(): the video server's client, which the start-up hands in.
    using VideoUrlSource = std::function<QString(const QString &id, const QDateTime &start, const QDateTime &end)>;
    void setVideoUrlSource(VideoUrlSource source);

public slots:
    bool isDebug() const;
    QDateTime now();
    /// The local date-time on date whose clock shows minutesFromMidnight minutes after midnight;
    /// invalid outside 0 to 1439.
    QDateTime datetimeFromDateAndMinutes(QDate date, int minutesFromMidnight);
    QDateTime addDateTime(QDateTime base, qlonglong seconds);
    int getDiffBetweenTwoDatetimeInSeconds(QDateTime start, QDateTime end);
    /// The clip of camera id from start to end, with the account inside the URL; empty when no video
    /// server client has been handed in.
    QString getVideoUrl(QString id, QDateTime start, QDateTime end);
    /// Seconds since the epoch of the first moment of date in local time.
    qulonglong startDayTimestamp(QDate date);
    /// Seconds since the epoch of the last moment of date in local time.
    qulonglong endDayTimestamp(QDate date);
    qulonglong datetimeToMSSinceEpoch(QDateTime dt);
    qulonglong datetimeToSecsSinceEpoch(QDateTime dt);
    /// ISO 8601 in the date-time's own time spec, without fractions of a second.
    QString formatDateTime(QDateTime dt);
    /// downloadStamp(), for the pages.
    QString formatDatetimeForDownload(QDateTime dt);
    QString fileUriToFilePath(QString fileUri);
    /// The file URL of name in the working directory, where the program keeps its working files.
    QUrl workingFileUrl(QString name);
    /// localPath(), for the pages.
    QString localFilePath(QString fileOrUrl);
    /// mergeCameras() for the pages: first (maps with "strmId" and "strmName", a receipt's cameras), then
    /// the rows of more (a model with those roles, the video server's cameras).
    QVariantList knownCameras(QVariantList first, QAbstractItemModel *more);
    /// The file URL of the folder that holds path.
    QUrl folderUrl(QString path);
    void printServerDatetime(qulonglong msecs);
    void printDurationInfo(int durationMs);

private:
    static Utils *s_inst;
    VideoUrlSource m_videoUrlSource;
};
