#pragma once
#include "net/serverclient.h"

#include <QDateTime>
#include <QUrl>
#include <QString>

#include <optional>

class QAuthenticator;
class QFile;
class QNetworkReply;

/// The video management server: its address, the operator's account on it, every URL of it and the
/// answer to its authentication challenges. Every request to the video server goes through one of
/// these; the models, the downloads and the exports are handed the one they use. The account is its
/// own: when it changes, the logins and connections the manager remembers are forgotten.
class VmsClient : public ServerClient
{
    Q_OBJECT
    Q_PROPERTY(QString user READ user NOTIFY accountChanged)
    /// The server asked for Basic authentication over plain HTTP: the password crossed the network readable.
    Q_PROPERTY(bool basicInClear READ basicInClear NOTIFY basicInClearChanged)
    /// What the operator is told about it.
    Q_PROPERTY(QString basicInClearText READ basicInClearText CONSTANT)
public:
    explicit VmsClient(QObject *parent = nullptr);

    /// The client of the server and account in the connection settings (the AppState that is current
    /// when a request is made), made on first use and kept for the whole run.
    static VmsClient *shared();

    QString user();
    QString password();
    void setAccount(const QString &user, const QString &password);
    /// Forgets remembered logins and connections, so that the next challenge is answered afresh.
    void forgetLogins();

    /// The server's time as its "/api/getTime" reply gave it: kept here for the exports' record, and
    /// handed on to the settings followed.
    void setServerTime(int timezoneOffsetMs, std::optional<qint64> clockOffsetMs);
    int timezoneOffsetMs();
    /// How far the server's clock was ahead of this machine's when last asked; unknown when it did not say.
    std::optional<qint64> clockOffsetMs();
    /// The clip download running in the settings followed (not owned), or none.
    void setCurrentDownload(QFile *file, const QString &path);

    QString statisticsUrl();
    QString timeUrl();
    QString camerasUrl();
    QString periodsUrl(const QString &cameraId, qint64 startMs, qint64 endMs);
    /// A camera's video from startMs for durationSecs seconds, the high-quality stream (hi=1) or the usual
    /// one (hi=0).
    QString clipUrl(const QString &cameraId, qint64 startMs, qint64 durationSecs, bool highQuality);
    /// clipUrl() of the usual stream with the account inside it, for a program that fetches it by
    /// itself; user and password percent-encoded, so that "@", ":" or "/" in them cannot end the user
    /// info. Only the design's FFmpeg call takes it: the program's own transfers never carry it.
    QString credentialedClipUrl(const QString &cameraId, const QDateTime &start, const QDateTime &end);

    /// Answers a challenge with the account as it stands now. The user name and password go out as
    /// UTF-8, whatever the scheme (RFC 7616 for Digest, RFC 7617 for Basic): Qt's authenticator encodes
    /// them as Latin-1, so it is handed the characters whose Latin-1 bytes are the UTF-8 ones. An ASCII
    /// account is the same either way.
    void answer(QAuthenticator *authenticator);
    bool basicInClear() const;
    QString basicInClearText() const;

signals:
    void accountChanged();
    void basicInClearChanged();
    /// A challenge for reply has been answered with the account.
    void challengeAnswered(QNetworkReply *reply);

private:
    /// Finds out, once per server, whether the server that challenged asks for Basic over plain HTTP.
    void learnScheme(const QUrl &challenged);
    void setBasicInClear(bool value);

protected:
    /// Base, user and password.
    void readSettings(AppState &settings) override;
    /// Answers the manager's challenges with the account.
    void prepareManager(QNetworkAccessManager &manager) override;

private:
    QString m_user;
    QString m_password;
    bool m_basicInClear = false;
    QString m_schemeLearnedFor;
    QNetworkAccessManager *m_probe = nullptr;
    int m_timezoneOffsetMs = 0;
    std::optional<qint64> m_clockOffsetMs;
};
