#pragma once
#include "net/filedownload.h"

#include <QAuthenticator>
#include <QByteArray>
#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QString>

/// The pages' handle on the video server: the login test, the server's time zone and the clip download.
class ApiCall : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isLoggingIn READ isLoggingIn WRITE setIsLoggingIn NOTIFY isLoggingInChanged)
    Q_PROPERTY(bool isDownloading READ isDownloading WRITE setIsDownloading NOTIFY isDownloadingChanged)
public:
    explicit ApiCall(QObject *parent = nullptr);

    bool isLoggingIn() const { return m_isLoggingIn; }
    void setIsLoggingIn(bool value);
    bool isDownloading() const { return m_isDownloading; }
    void setIsDownloading(bool value);

    /// Reads a "/api/getTime" body and stores the offset it gives.
    void parseTimeData(const QByteArray &body);

public slots:
    void testLogin();
    void fetchTimezone();
    /// Downloads `duration` seconds from `timestamp` (seconds since the epoch) into path, or into
    /// "download.mkv" in the working directory when no path is given.
    void download(QString id, qulonglong timestamp, int duration, QString path = QString());
    void downloadByDatetime(QString id, QDateTime start, int duration);
    /// Stops the running download and removes its unfinished file; downloadCancelled() follows.
    void cancelDownload();

signals:
    void errorOccured(QString message);
    void timezoneReceived();
    void downloadProgress(qlonglong downloaded, qlonglong total);
    void downloadComplete(QString filepath);
    void downloadCancelled(QString filepath);
    void isLoggingInChanged();
    void isDownloadingChanged();
    void authRequired();
    void loggedIn();

private slots:
    void authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator);

private:
    /// The download has ended: the settings let go of its file, then the page hears how it went.
    void endDownload(const QString &error, bool cancelled);

    QNetworkAccessManager m_manager;
    FileDownload m_download;
    bool m_isLoggingIn = false;
    bool m_isDownloading = false;
};
