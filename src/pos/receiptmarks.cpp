#include "pos/receiptmarks.h"

#include "net/posclient.h"
#include "pos/tillclocks.h"

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
            { StreamsRole, QByteArrayLiteral("markStreams") }, { FlagsRole, QByteArrayLiteral("markFlags") },
            { TillClockOffsetRole, QByteArrayLiteral("markTillClockOffsetMs") } },
        parent)
    , m_client(PosClient::shared())
{
    setTillClocks(TillClocks::shared());
}

PosClient *ReceiptMarks::client() const
{
    return m_client;
}

void ReceiptMarks::setClient(PosClient *client)
{
    m_client = client;
}

void ReceiptMarks::setTillClocks(TillClocks *clocks)
{
    if (m_clocks)
        m_clocks->disconnect(this);
    m_clocks = clocks;
    if (m_clocks) {
        connect(m_clocks, &TillClocks::offsetsChanged, this, [this] {
            if (!m_cameraId.isEmpty() && m_date.isValid())
                loadDay(m_cameraId, m_date);
        });
    }
}

ReceiptFlagger *ReceiptMarks::flagger() const
{
    return m_flagger;
}

void ReceiptMarks::setFlagger(ReceiptFlagger *flagger)
{
    if (m_flagger == flagger)
        return;
    if (m_flagger)
        m_flagger->disconnect(this);
    m_flagger = flagger;
    if (m_flagger)
        connect(m_flagger, &ReceiptFlagger::flaggingChanged, this, &ReceiptMarks::updateFlags);
    updateFlags();
    emit flaggerChanged();
}

void ReceiptMarks::updateFlags()
{
    QVector<QStringList> flags;
    flags.reserve(m_rows.size());
    for (const PosData &record : qAsConst(m_rows))
        flags.append(m_flagger ? m_flagger->flagsOf(record) : QStringList());
    if (flags == m_flags)
        return;
    m_flags.swap(flags);
    if (!m_rows.isEmpty())
        emit dataChanged(index(0), index(m_rows.size() - 1), { FlagsRole });
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
    case StreamsRole:
        return streamMaps(record.streams);
    case FlagsRole:
        return m_flags.value(row);
    case TillClockOffsetRole:
        return double(record.tillClockOffsetMs);
    }
    return QVariant();
}

void ReceiptMarks::loadDay(const QString &cameraId, const QDate &date)
{
    if (!m_client) {
        setStatus(tr("Receipts could not be loaded: %1").arg(tr("No POS server is set.")));
        return;
    }
    m_cameraId = cameraId;
    m_date = date;
    // The receipts that lie on the day by the video's clock, wherever the tills' clocks put them.
    const TillOffsets offsets = m_clocks ? m_clocks->offsets() : TillOffsets();
    const QString url = m_client->windowUrl(
        offsets.requestFrom(date.startOfDay(Qt::LocalTime)), offsets.requestTo(date.endOfDay(Qt::LocalTime)));
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
    m_cameraId.clear();
    m_date = QDate();
    setRows({});
    setStatus(QString());
    setIsLoading(false);
}

void ReceiptMarks::setMarksFromBody(const QByteArray &body, const QString &cameraId, const QDate &date)
{
    // The camera filter would keep every receipt for an empty id; a camera without an id has none.
    QList<PosData> records = cameraId.isEmpty()
        ? QList<PosData>()
        : onVideoClock(parsePosResult(body, cameraId), m_clocks ? m_clocks->offsets() : TillOffsets());
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
    QVector<QStringList> flags;
    flags.reserve(records.size());
    for (const PosData &record : qAsConst(records))
        flags.append(m_flagger ? m_flagger->flagsOf(record) : QStringList());
    beginResetModel();
    m_rows.swap(records);
    m_times.swap(times);
    m_flags.swap(flags);
    endResetModel();
    emit countChanged();
}

QVariantList ReceiptMarks::clusters(double viewStartMs, double msPerPixel, double widthPx, double minGapPx) const
{
    QVariantList result;
    const QVector<MarkCluster> groups = clusterMarks(m_times, viewStartMs, msPerPixel, widthPx, minGapPx);
    result.reserve(groups.size());
    for (const MarkCluster &group : groups) {
        const int flagged = int(std::count_if(m_flags.cbegin() + group.first,
            m_flags.cbegin() + group.first + group.count, [](const QStringList &flags) { return !flags.isEmpty(); }));
        result.append(QVariantMap { { QStringLiteral("x"), group.x }, { QStringLiteral("row"), group.first },
            { QStringLiteral("count"), group.count }, { QStringLiteral("flagged"), flagged } });
    }
    return result;
}
