#pragma once
#include "net/serverclient.h"

#include <QDate>
#include <QDateTime>
#include <QString>

/// The POS server: its address and every URL of it. It has no account: no request to it carries
/// credentials, and no challenge from it is answered.
class PosClient : public ServerClient
{
    Q_OBJECT
public:
    explicit PosClient(QObject *parent = nullptr);

    /// The client of the POS server in the connection settings (the AppState that is current when a
    /// request is made), made on first use and kept for the whole run.
    static PosClient *shared();

    /// The search for a text: the text travels as one query value, whatever characters it holds. A valid
    /// from or to day adds the time-range item of that bound: from the first moment of from, to the last
    /// moment of to, local days.
    QString searchUrl(const QString &content, const QDate &from = {}, const QDate &to = {});
    /// The receipts of a time window: both ends in UTC with milliseconds.
    QString windowUrl(const QDateTime &from, const QDateTime &to);

    /// The same on the POS server at posBase.
    static QString searchUrlOn(
        const QString &posBase, const QString &content, const QDate &from = {}, const QDate &to = {});
    static QString windowUrlOn(const QString &posBase, const QDateTime &from, const QDateTime &to);

protected:
    /// The POS base.
    void readSettings(AppState &settings) override;
};
