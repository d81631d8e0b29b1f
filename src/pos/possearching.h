#pragma once
#include "core/common.h"
#include "net/request.h"
#include "pos/receiptrows.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVariantMap>

class PosClient;
class TillClocks;

/// A row's one-line text arranged around the first place where the search text occurs in it.
struct MatchSnippet {
    QString before; ///< the text before the match, starting with "…" when its beginning was left out
    QString match; ///< empty when the search text does not occur
    QString after;
};

/// Where the first match of query (letter case aside) in line lies within visibleChars characters, the
/// text is kept whole; otherwise it starts shortly before the match, at the start of the match's
/// receipt line or word when one is near, so that the match is seen. visibleChars 0 or less: no limit.
MatchSnippet matchSnippet(const QString &line, const QString &query, int visibleChars);

/// The POS transactions whose text contains a search text, newest first, for the search page; on the
/// video's clock (each till's clock offset taken off), so that a receipt shows at the moment its cameras do.
class PosSearching : public QAbstractListModel, public ReceiptRows
{
    Q_OBJECT
    Q_INTERFACES(ReceiptRows)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    /// The text of the search whose answer the rows are; empty before the first answer.
    Q_PROPERTY(QString searchText READ searchText NOTIFY searchTextChanged)
public:
    enum Role {
        ContentRole = Qt::UserRole + 1,
        ContentOneLineRole,
        CreatedAtRole,
        StreamsRole,
        TillClockOffsetRole, ///< of PosData
    };

    explicit PosSearching(QObject *parent = nullptr);

    /// The POS server asked: the one of the connection settings unless another is given.
    PosClient *client() const;
    void setClient(PosClient *client);
    /// The tills' clocks, which meet the tills of each reply: TillClocks::shared() unless others are given.
    void setTillClocks(TillClocks *clocks);
    bool isLoading() const { return m_isLoading; }
    QString searchText() const { return m_searchText; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    /// The transaction of a row; an empty one for a row that does not exist.
    PosData recordAt(int row) const override;

    /// Replaces the rows with the transactions of a reply body, newest first.
    void setRecordsFromBody(const QByteArray &body);

    /// Newest first; records without a readable time go last, in the order they came.
    static void sortNewestFirst(QList<PosData> &records);

    /// matchSnippet() as styled text for a result row, the match in bold and underlined.
    Q_INVOKABLE QString matchMarkup(const QString &line, const QString &query, int visibleChars) const;
    /// For screen readers: the receipt line of a one-line text where query first occurs (the first
    /// line when it does not), its runs of blanks made one.
    Q_INVOKABLE QString matchLine(const QString &line, const QString &query) const;

public slots:
    void searchByContent(const QString &content);
    /// The same search limited to the receipts of the local days from to to; an invalid day leaves
    /// that end open.
    void searchByContentInDays(const QString &content, const QDate &from, const QDate &to);

signals:
    void isLoadingChanged();
    void searchTextChanged();
    void errorOccured(QString message);

private:
    void setIsLoading(bool value);
    /// Puts records, on the video's clock, in the place of the rows.
    void setRecords(QList<PosData> records);

    QHash<int, QByteArray> m_roles;
    bool m_isLoading = false;
    QString m_searchText;
    QList<PosData> m_records;
    QPointer<PosClient> m_client;
    QPointer<TillClocks> m_clocks;
    /// Only the reply to the most recent search may change the rows.
    Request::Latest m_latest;
};
