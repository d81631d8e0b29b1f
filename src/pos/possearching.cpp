#include "pos/possearching.h"

#include "core/property.h"
#include "net/posclient.h"
#include "pos/tillclocks.h"

#include <QNetworkReply>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <vector>

namespace {

/// A line break of the receipt as a one-line text shows it.
const QLatin1String kLineBreak("\\n");

/// Where the receipt line that holds position at begins in a one-line text.
int receiptLineStart(const QString &line, int at)
{
    const int lineBreak = at >= 2 ? line.lastIndexOf(kLineBreak, at - 2) : -1;
    return lineBreak < 0 ? 0 : lineBreak + 2;
}

} // namespace

PosSearching::PosSearching(QObject *parent)
    : QAbstractListModel(parent)
    , m_client(PosClient::shared())
{
    m_roles.insert(ContentRole, QByteArrayLiteral("posContent"));
    m_roles.insert(ContentOneLineRole, QByteArrayLiteral("posContentOneLine"));
    m_roles.insert(CreatedAtRole, QByteArrayLiteral("posCreatedAt"));
    m_roles.insert(StreamsRole, QByteArrayLiteral("posStreams"));
    m_roles.insert(TillClockOffsetRole, QByteArrayLiteral("posTillClockOffsetMs"));
    setTillClocks(TillClocks::shared());
}

void PosSearching::setTillClocks(TillClocks *clocks)
{
    if (m_clocks)
        m_clocks->disconnect(this);
    m_clocks = clocks;
    if (m_clocks)
        connect(m_clocks, &TillClocks::offsetsChanged, this, [this] { setRecords(m_records); });
}

MatchSnippet matchSnippet(const QString &line, const QString &query, int visibleChars)
{
    const int at = query.isEmpty() ? -1 : line.indexOf(query, 0, Qt::CaseInsensitive);
    if (at < 0)
        return { line, QString(), QString() };
    const int length = query.size();
    const int end = at + length;
    int start = 0;
    if (visibleChars > 0 && end > visibleChars) {
        // Room for "…", a little of what comes before, and the match itself.
        const auto fits = [&](int from) { return 1 + (at - from) + length <= visibleChars; };
        start = at - qMin(at, qMax(1, visibleChars / 4));
        while (start < at && !fits(start))
            ++start;
        const int lineStart = receiptLineStart(line, at);
        if (lineStart > 0 && lineStart >= start) {
            start = lineStart;
        } else {
            // Back to the start of a word cut in half, when it is close and still leaves the match in view.
            int word = start;
            while (word > 0 && start - word < 8 && !line.at(word - 1).isSpace())
                --word;
            if ((word == 0 || line.at(word - 1).isSpace()) && fits(word))
                start = word;
        }
        if (start > 0 && line.at(start).isLowSurrogate())
            ++start;
    }
    const QString ellipsis = start > 0 ? QStringLiteral("\u2026") : QString();
    return { ellipsis + line.mid(start, at - start), line.mid(at, length), line.mid(end) };
}

PosClient *PosSearching::client() const
{
    return m_client;
}

void PosSearching::setClient(PosClient *client)
{
    m_client = client;
}

void PosSearching::setIsLoading(bool value)
{
    updateProperty(m_isLoading, value, this, &PosSearching::isLoadingChanged);
}

QString PosSearching::matchMarkup(const QString &line, const QString &query, int visibleChars) const
{
    const MatchSnippet snippet = matchSnippet(line, query, visibleChars);
    if (snippet.match.isEmpty())
        return snippet.before.toHtmlEscaped();
    return snippet.before.toHtmlEscaped() + QStringLiteral("<b><u>") + snippet.match.toHtmlEscaped()
        + QStringLiteral("</u></b>") + snippet.after.toHtmlEscaped();
}

QString PosSearching::matchLine(const QString &line, const QString &query) const
{
    const int at = query.isEmpty() ? -1 : line.indexOf(query, 0, Qt::CaseInsensitive);
    const int from = at < 0 ? 0 : receiptLineStart(line, at);
    int end = line.indexOf(kLineBreak, at < 0 ? 0 : at + query.size());
    if (end < 0)
        end = line.size();
    return line.mid(from, end - from).simplified();
}

int PosSearching::rowCount(const QModelIndex &parent) const
{
    // A flat list: no row has children.
    return parent.isValid() ? 0 : m_records.size();
}

PosData PosSearching::recordAt(int row) const
{
    return row >= 0 && row < m_records.size() ? m_records.at(row) : PosData();
}

QVariant PosSearching::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_records.size())
        return QVariant();
    const PosData &record = m_records.at(index.row());
    switch (role) {
    case ContentRole:
        return record.content;
    case ContentOneLineRole: {
        QString oneLine = record.content;
        return oneLine.replace(QLatin1Char('\n'), kLineBreak);
    }
    case CreatedAtRole:
        return record.createdAt;
    case StreamsRole: {
        QVariantList streams;
        streams.reserve(record.streams.size());
        for (const StreamData &stream : record.streams) {
            QVariantMap map;
            map.insert(QStringLiteral("strmId"), stream.id);
            map.insert(QStringLiteral("strmName"), stream.name);
            streams.append(map);
        }
        return streams;
    }
    case TillClockOffsetRole:
        return double(record.tillClockOffsetMs);
    }
    return QVariant();
}

QHash<int, QByteArray> PosSearching::roleNames() const
{
    return m_roles;
}

void PosSearching::searchByContent(const QString &content)
{
    searchByContentInDays(content, QDate(), QDate());
}

void PosSearching::searchByContentInDays(const QString &content, const QDate &from, const QDate &to)
{
    if (!m_client) {
        emit errorOccured(tr("No POS server is set."));
        return;
    }
    m_latest.send(
        *m_client, m_client->searchUrl(content, from, to), this,
        [this, content](const QByteArray &body) {
            if (m_searchText != content) {
                m_searchText = content;
                emit searchTextChanged();
            }
            setRecordsFromBody(body);
            setIsLoading(false);
        },
        [this](const QString &message, QNetworkReply::NetworkError) {
            emit errorOccured(message);
            setIsLoading(false);
        });
    setIsLoading(true);
}

void PosSearching::setRecordsFromBody(const QByteArray &body)
{
    QList<PosData> records = parsePosResult(body, QString());
    if (m_clocks)
        m_clocks->meet(records);
    setRecords(std::move(records));
}

void PosSearching::setRecords(QList<PosData> records)
{
    records = onVideoClock(std::move(records), m_clocks ? m_clocks->offsets() : TillOffsets());
    sortNewestFirst(records);
    beginResetModel();
    m_records.swap(records);
    endResetModel();
}

void PosSearching::sortNewestFirst(QList<PosData> &records)
{
    // Each comparison of two date-times would convert both to UTC again; convert once per record.
    struct Key {
        bool valid;
        qint64 ms;
        int index;
    };
    std::vector<Key> keys;
    keys.reserve(size_t(records.size()));
    for (int i = 0; i < records.size(); ++i) {
        const QDateTime &at = records.at(i).createdAt;
        keys.push_back({ at.isValid(), at.isValid() ? at.toMSecsSinceEpoch() : 0, i });
    }
    std::stable_sort(keys.begin(), keys.end(), [](const Key &a, const Key &b) {
        if (a.valid != b.valid)
            return a.valid;
        return a.ms > b.ms;
    });
    QList<PosData> sorted;
    sorted.reserve(records.size());
    for (const Key &key : keys)
        sorted.append(std::move(records[key.index]));
    records.swap(sorted);
}
