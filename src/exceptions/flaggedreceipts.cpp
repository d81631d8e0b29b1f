#include "exceptions/flaggedreceipts.h"

#include <algorithm>

FlaggedReceipts::FlaggedReceipts(QObject *parent)
    : RowListModel(
        { { CreatedAtRole, QByteArrayLiteral("flagCreatedAt") }, { RulesRole, QByteArrayLiteral("flagRules") },
            { TillRole, QByteArrayLiteral("flagTill") }, { StreamsRole, QByteArrayLiteral("flagStreams") },
            { ContentRole, QByteArrayLiteral("flagContent") }, { LineRole, QByteArrayLiteral("flagLine") },
            { LineTextRole, QByteArrayLiteral("flagLineText") },
            { TillClockOffsetRole, QByteArrayLiteral("flagTillClockOffsetMs") } },
        parent)
{
}

void FlaggedReceipts::setRows(QVector<FlaggedRow> rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const FlaggedRow &a, const FlaggedRow &b) {
        const QDateTime &x = a.receipt.createdAt;
        const QDateTime &y = b.receipt.createdAt;
        if (x.isValid() != y.isValid())
            return x.isValid();
        return x.isValid() && x.toMSecsSinceEpoch() < y.toMSecsSinceEpoch();
    });
    const bool counted = rows.size() != m_rows.size();
    replaceRows(m_rows, rows);
    if (counted)
        emit countChanged();
}

PosData FlaggedReceipts::recordAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row).receipt : PosData();
}

QVariantList FlaggedReceipts::allRows() const
{
    QVariantList all;
    all.reserve(m_rows.size());
    for (int row = 0; row < m_rows.size(); ++row)
        all << row;
    return all;
}

QVariant FlaggedReceipts::value(int row, int role) const
{
    const FlaggedRow &flagged = m_rows.at(row);
    const PosData &receipt = flagged.receipt;
    switch (role) {
    case CreatedAtRole:
        return receipt.createdAt;
    case RulesRole:
        return flagged.rules.join(QStringLiteral(", "));
    case TillRole:
        return receipt.tillName.isEmpty() ? receipt.tillId : receipt.tillName;
    case StreamsRole:
        return streamMaps(receipt.streams);
    case ContentRole:
        return receipt.content;
    case LineRole:
        return flagged.line;
    case LineTextRole:
        return flagged.lineText;
    case TillClockOffsetRole:
        return double(receipt.tillClockOffsetMs);
    }
    return QVariant();
}
