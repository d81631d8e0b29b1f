#include "pos/receiptmarks.h"

#include "net/posclient.h"

#include <QStringList>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace {

/// What the tooltip of a mark shows of a receipt: its first lines, the header that names the shop
/// and the till.
const int kPreviewLines = 3;

} // namespace

QVector<MarkCluster> clusterMarks(
    const QVector<qint64> &timesMs, double viewStartMs, double msPerPixel, double widthPx, double minGapPx)
{
    QVector<MarkCluster> clusters;
    if (msPerPixel <= 0 || timesMs.isEmpty())
        return clusters;
    const double viewEndMs = viewStartMs + widthPx * msPerPixel;
    auto begin = std::lower_bound(timesMs.cbegin(), timesMs.cend(), qint64(std::ceil(viewStartMs)));
    for (auto it = begin; it != timesMs.cend() && double(*it) <= viewEndMs; ++it) {
        const double x = (double(*it) - viewStartMs) / msPerPixel;
        if (!clusters.isEmpty() && x - clusters.last().x < minGapPx) {
            ++clusters.last().count;
            continue;
        }
        clusters.append({ x, int(it - timesMs.cbegin()), 1 });
    }
    return clusters;
}

ReceiptMarks::ReceiptMarks(QObject *parent)
    : RowListModel(
        { { TimeRole, QByteArrayLiteral("markTimeMS") }, { CreatedAtRole, QByteArrayLiteral("markCreatedAt") },
            { ContentRole, QByteArrayLiteral("markContent") }, { PreviewRole, QByteArrayLiteral("markPreview") },
            { StreamsRole, QByteArrayLiteral("markStreams") } },
        parent)
    , m_client(PosClient::shared())
{
}

PosClient *ReceiptMarks::client() const
{
    return m_client;
}

void ReceiptMarks::setClient(PosClient *client)
{
    m_client = client;
}

int ReceiptMarks::count() const
{
    return m_rows.size();
}

bool ReceiptMarks::isLoading() const
{
    return m_isLoading;
}

QString ReceiptMarks::status() const
{
    return m_status;
}

void ReceiptMarks::setIsLoading(bool value)
{
    if (m_isLoading == value)
        return;
    m_isLoading = value;
    emit isLoadingChanged();
}

void ReceiptMarks::setStatus(const QString &value)
{
    if (m_status == value)
        return;
    m_status = value;
    emit statusChanged();
}

int ReceiptMarks::size() const
{
    return m_rows.size();
}

QVariant ReceiptMarks::value(int row, int role) const
{
    const PosData &record = m_rows.at(row);
    switch (role) {
    case TimeRole:
        return QVariant::fromValue<qint64>(record.createdAt.toMSecsSinceEpoch());
    case CreatedAtRole:
        return record.createdAt;
    case ContentRole:
        return record.content;
    case PreviewRole:
        return record.content.split(QLatin1Char('\n')).mid(0, kPreviewLines).join(QLatin1Char('\n'));
    case StreamsRole: {
        QVariantList streams;
        for (const StreamData &stream : record.streams)
            streams.append(
                QVariantMap { { QStringLiteral("strmId"), stream.id }, { QStringLiteral("strmName"), stream.name } });
        return streams;
    }
    }
    return QVariant();
}

void ReceiptMarks::loadDay(const QString &cameraId, const QDate &date)
{
    if (!m_client) {
        setStatus(tr("Receipts could not be loaded: %1").arg(tr("No POS server is set.")));
        return;
    }
    const QString url = m_client->windowUrl(date.startOfDay(Qt::LocalTime), date.endOfDay(Qt::LocalTime));
    m_latest.send(
        *m_client, url, this,
        [this, cameraId, date](const QByteArray &body) {
            setMarksFromBody(body, cameraId, date);
            setStatus(QString());
            setIsLoading(false);
        },
        [this](const QString &message, QNetworkReply::NetworkError) {
            // The marks of another camera or day would mislead; the timeline itself stays usable.
            setRows({});
            setStatus(tr("Receipts could not be loaded: %1").arg(message));
            setIsLoading(false);
        });
    setIsLoading(true);
}

void ReceiptMarks::clear()
{
    m_latest.abort();
    setRows({});
    setStatus(QString());
    setIsLoading(false);
}

void ReceiptMarks::setMarksFromBody(const QByteArray &body, const QString &cameraId, const QDate &date)
{
    // The camera filter would keep every receipt for an empty id; a camera without an id has none.
    QList<PosData> records = cameraId.isEmpty() ? QList<PosData>() : parsePosResult(body, cameraId);
    // Receipts without a readable time have no place on the timeline, and those of another day (a
    // server that reads the bounds in its own zone) none on this day's.
    const qint64 first = date.startOfDay(Qt::LocalTime).toMSecsSinceEpoch();
    const qint64 last = date.endOfDay(Qt::LocalTime).toMSecsSinceEpoch();
    records.erase(std::remove_if(records.begin(), records.end(),
                      [first, last](const PosData &r) {
                          return !r.createdAt.isValid() || r.createdAt.toMSecsSinceEpoch() < first
                              || r.createdAt.toMSecsSinceEpoch() > last;
                      }),
        records.end());
    setRows(std::move(records));
}

void ReceiptMarks::setRows(QList<PosData> records)
{
    std::stable_sort(records.begin(), records.end(), [](const PosData &a, const PosData &b) {
        return a.createdAt.toMSecsSinceEpoch() < b.createdAt.toMSecsSinceEpoch();
    });
    QVector<qint64> times;
    times.reserve(records.size());
    for (const PosData &record : qAsConst(records))
        times.append(record.createdAt.toMSecsSinceEpoch());
    replaceRows(m_rows, records);
    m_times.swap(times);
    emit countChanged();
}

QVariantList ReceiptMarks::clusters(double viewStartMs, double msPerPixel, double widthPx, double minGapPx) const
{
    QVariantList result;
    const QVector<MarkCluster> groups = clusterMarks(m_times, viewStartMs, msPerPixel, widthPx, minGapPx);
    result.reserve(groups.size());
    for (const MarkCluster &group : groups) {
        result.append(QVariantMap { { QStringLiteral("x"), group.x }, { QStringLiteral("row"), group.first },
            { QStringLiteral("count"), group.count } });
    }
    return result;
}
