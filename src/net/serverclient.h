#pragma once
#include "net/request.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>

class AppState;
class CertificateTrust;
class QNetworkReply;
class QNetworkRequest;

/// What every client of one of the two servers has: the server's base URL with its scheme, the one
/// network access manager all requests to that server go through, and the request path that every
/// request takes (the stall limit, later the transport's security).
class ServerClient : public QObject
{
    Q_OBJECT
    /// Scheme, host and port without a trailing slash, e.g. "http://localhost:7001".
    Q_PROPERTY(QString base READ base NOTIFY baseChanged)
    /// The server is spoken to over HTTPS.
    Q_PROPERTY(bool secure READ isSecure NOTIFY baseChanged)
public:
    ~ServerClient() override;

    QString base();
    bool isSecure();
    /// Stored as given ("http://host:port", "https://host:port"; see normalisedBase()).
    void setBase(const QString &base);

    /// The manager new requests go through. forgetConnections() replaces it.
    QNetworkAccessManager &manager();

    /// The request every GET of this client sends: the URL text parsed leniently, no header of its
    /// own, and the transport's security: TLS 1.2 or later, the
    /// server's certificate checked against the system's trusted ones, then against the pins of trust.
    QNetworkRequest request(const QString &urlText) const;
    /// Sends a GET for urlText, watched by Request::watch(): the reply ends with an error once no data
    /// has arrived for Request::transferTimeoutMs().
    QNetworkReply *get(const QString &urlText);
    /// Sends a GET and, when the reply has finished, calls onBody with the whole body or onError with
    /// Request::errorText() of the reply, never both. The handlers run with context as the receiver:
    /// they are dropped when context goes first. The reply is disposed of after the handler has run.
    QNetworkReply *send(
        const QString &urlText, QObject *context, Request::BodyHandler onBody, Request::ErrorHandler onError);

    /// Forgets the connections and the logins remembered: later requests go through a new manager. Requests
    /// in flight are left to end as they would (clearing a manager's cache under them would drop them
    /// without a word); their manager goes once they have.
    void forgetConnections();

    /// Follow settings: what of them concerns this server is read at every request and every URL made.
    void followSettings(AppState *settings);

    /// Who decides about certificates the system does not trust: CertificateTrust::shared() unless
    /// another is given.
    void setTrust(CertificateTrust *trust);

    /// The base for what the operator typed: a scheme typed ("https://", "http://") is kept, a bare
    /// "host:port" is plain HTTP as it always was; spaces and trailing slashes go.
    Q_INVOKABLE QString baseFor(const QString &typed) const;

    /// "http://host:port" for a bare "host:port"; anything with a scheme unchanged, trailing slashes
    /// removed.
    static QString normalisedBase(const QString &text);

signals:
    void baseChanged();

protected:
    explicit ServerClient(QObject *parent);
    /// Makes the first manager; for the constructor of the class that prepares managers.
    void makeManager();
    /// Follow whichever settings object is current (AppState::get()) at the moment of use: the clients
    /// made for the whole run.
    void followCurrentSettings();
    /// The client of Client's server in the connection settings, made on first use and never deleted (as
    /// the settings it follows: requests may be in flight until the process ends).
    template <typename Client> static Client *sharedFollowingSettings()
    {
        static Client *client = [] {
            auto *made = new Client;
            made->followCurrentSettings();
            return made;
        }();
        return client;
    }
    /// Runs before every URL is made and every request sent, so that a client that follows the settings
    /// uses them as they stand at the moment of use.
    void sync();
    /// Takes what concerns this server from the settings followed.
    virtual void readSettings(AppState &settings) = 0;
    /// Readies a new manager (answers to its challenges, for one).
    virtual void prepareManager(QNetworkAccessManager &manager);
    /// The settings followed, if any.
    AppState *settings();
    /// The base without syncing first.
    QString storedBase() const;

private:
    /// Lets old go once the replies it carries have.
    static void retire(QNetworkAccessManager *old);

    QNetworkAccessManager *m_manager = nullptr;
    QPointer<CertificateTrust> m_trust;
    QString m_base;
    QPointer<AppState> m_settings;
    bool m_followsCurrentSettings = false;
};
