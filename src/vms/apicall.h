#pragma once
#include "net/filedownload.h"
#include "net/request.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>

class VmsClient;

/// The pages' handle on the video server: the login test, the server's time zone and the clip download.
class ApiCall : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isLoggingIn READ isLoggingIn WRITE setIsLoggingIn NOTIFY isLoggingInChanged)
    Q_PROPERTY(bool isDownloading READ isDownloading WRITE setIsDownloading NOTIFY isDownloadingChanged)
public:
    explicit ApiCall(QObject *parent = nullptr);

    /// The video server asked: the one of the connection settings unless another is given.
    VmsClient *client() const;
    void setClient(VmsClient *client);

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

private:
    /// A challenge has been answered on the client: authRequired() when the request is one of ours.
    void onChallengeAnswered(QNetworkReply *reply);
    /// Sends a request of this object and remembers it as ours until it ends.
    void send(const QString &url, Request::BodyHandler onBody, Request::ErrorHandler onError);
    /// The download has ended: the settings let go of its file, then the page hears how it went.
    void endDownload(const QString &error, bool cancelled);

    QPointer<VmsClient> m_client;
    QList<QPointer<QNetworkReply>> m_replies;
    FileDownload m_download;
    bool m_isLoggingIn = false;
    bool m_isDownloading = false;
};
