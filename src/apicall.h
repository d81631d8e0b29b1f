#pragma once
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

    bool isLoggingIn() const;
    void setIsLoggingIn(bool value);
    bool isDownloading() const;
    void setIsDownloading(bool value);

    /// Reads a "/api/getTime" body and stores the offset it gives.
    void parseTimeData(const QByteArray &body);

public slots:
    void testLogin();
    void fetchTimezone();
    /// Downloads `duration` seconds from `timestamp` (seconds since the epoch) into "download.mkv".
    void download(QString id, qulonglong timestamp, int duration);
    void downloadByDatetime(QString id, QDateTime start, int duration);

signals:
    void errorOccured(QString message);
    void timezoneReceived();
    void downloadProgress(qlonglong downloaded, qlonglong total);
    void downloadComplete(QString filepath);
    void isLoggingInChanged();
    void isDownloadingChanged();
    void authRequired();
    void loggedIn();

private slots:
    void authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator);

private:
    void onDownloadProgress(QNetworkReply *reply, qint64 received, qint64 total);
    void onDownloadFinished(QNetworkReply *reply);
    /// Writes all of data to the current file; on a short write stops the transfer with the reason.
    bool writeToCurrentFile(QNetworkReply *reply, const QByteArray &data);
    void releaseCurrentFile();

    QNetworkAccessManager m_manager;
    qint64 m_written = 0; ///< bytes of the running download in the file
    bool m_isLoggingIn = false;
    bool m_isDownloading = false;
};
