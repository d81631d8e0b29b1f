#pragma once
#include "common.h"
#include "request.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QString>

/// The POS transactions whose text contains a search text, newest first, for the search page.
class PosSearching : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
public:
    enum Role {
        ContentRole = Qt::UserRole + 1,
        ContentOneLineRole,
        CreatedAtRole,
        StreamsRole,
    };

    explicit PosSearching(QObject *parent = nullptr);

    bool isLoading() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    /// Replaces the rows with the transactions of a reply body, newest first.
    void setRecordsFromBody(const QByteArray &body);

    /// Newest first; records without a readable time go last, in the order they came.
    static void sortNewestFirst(QList<PosData> &records);
    /// The search URL for a text: the text travels as one query value, whatever characters it holds.
    /// A valid from or to day adds the time-range item of that bound: from the first moment of from,
    /// to the last moment of to, local days.
    static QString searchUrl(
        const QString &posBase, const QString &content, const QDate &from = {}, const QDate &to = {});

public slots:
    void searchByContent(const QString &content);
    /// The same search limited to the receipts of the local days from to to; an invalid day leaves
    /// that end open.
    void searchByContentInDays(const QString &content, const QDate &from, const QDate &to);

signals:
    void isLoadingChanged();
    void errorOccured(QString message);

private:
    void setIsLoading(bool value);

    QHash<int, QByteArray> m_roles;
    bool m_isLoading = false;
    QList<PosData> m_records;
    QNetworkAccessManager m_manager;
    /// Only the reply to the most recent search may change the rows.
    Request::Latest m_latest;
};
