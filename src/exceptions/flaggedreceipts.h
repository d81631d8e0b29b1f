#pragma once
#include "core/common.h"
#include "core/rowlistmodel.h"
#include "pos/receiptrows.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

/// A receipt that exception rules flagged, as the list of the Exceptions tab shows it.
struct FlaggedRow {
    PosData receipt; ///< on the video's clock
    QStringList rules; ///< the names of the rules that fired, in the order of the rules
    int line = -1; ///< the receipt line the first of them matched, counted from 0
    QString lineText;
};

/// The receipts that the exception rules flagged, oldest first: the time on the video's clock, the
/// rules, the till, the cameras and the line that matched, for the list below the charts.
class FlaggedReceipts : public RowListModel, public ReceiptRows
{
    Q_OBJECT
    Q_INTERFACES(ReceiptRows)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    enum Role {
        CreatedAtRole = Qt::UserRole + 1,
        RulesRole, ///< the rules' names, joined with commas
        TillRole, ///< the till's name, or its id where it has none
        StreamsRole, ///< maps with "strmId" and "strmName"
        ContentRole,
        LineRole,
        LineTextRole,
        TillClockOffsetRole,
    };

    explicit FlaggedReceipts(QObject *parent = nullptr);

    int count() const { return m_rows.size(); }
    const QVector<FlaggedRow> &rows() const { return m_rows; }
    /// Puts rows in the place of the list, sorted by time (those without one last).
    void setRows(QVector<FlaggedRow> rows);
    PosData recordAt(int row) const override;
    /// Every row, for "Export all flagged".
    Q_INVOKABLE QVariantList allRows() const;

signals:
    void countChanged();

protected:
    int size() const override { return m_rows.size(); }
    QVariant value(int row, int role) const override;

private:
    QVector<FlaggedRow> m_rows;
};
