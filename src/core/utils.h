#pragma once
#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

/// Date and time arithmetic and formats for the pages, the clip URL handed to FFmpeg, and the
/// path behind a file URL from the save dialog. Keeps no state.
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
    /// The path a file URL stands for, decoded and in the system's own form.
    QString localFilePath(QUrl url);
    /// The file URL of the folder that holds path.
    QUrl folderUrl(QString path);
    void printServerDatetime(qulonglong msecs);
    void printDurationInfo(int durationMs);

private:
    static Utils *s_inst;
    VideoUrlSource m_videoUrlSource;
};
