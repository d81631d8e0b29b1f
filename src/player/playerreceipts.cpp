#include "player/playerreceipts.h"

#include "core/property.h"
#include "net/posclient.h"
#include "pos/tillclocks.h"
#include "pos/windowreceipts.h"

#include <algorithm>
#include <cmath>

namespace {

/// A jump lands this far from a receipt's target at most and still counts as being there, so that
/// Page Up while playing goes to the receipt before rather than back to the one just jumped to.
constexpr double kAtTargetSeconds = 1.0;

} // namespace

PlayerReceipts::PlayerReceipts(QObject *parent)
    : RowListModel(
        { { OffsetRole, QByteArrayLiteral("offsetSeconds") }, { TimeTextRole, QByteArrayLiteral("timeText") },
            { ContentRole, QByteArrayLiteral("content") }, { PreviewRole, QByteArrayLiteral("preview") } },
        parent)
    , m_client(PosClient::shared())
{
    setTillClocks(TillClocks::shared());
}

void PlayerReceipts::setClient(PosClient *client)
{
    m_client = client;
}

void PlayerReceipts::setTillClocks(TillClocks *clocks)
{
    if (m_clocks)
        m_clocks->disconnect(this);
    m_clocks = clocks;
    if (m_clocks) {
        connect(m_clocks, &TillClocks::offsetsChanged, this, [this] {
            if (m_loadFrom.isValid())
                load(m_loadFrom, m_loadTo, m_loadCamera);
        });
    }
}

void PlayerReceipts::load(const QDateTime &from, const QDateTime &to, const QString &cameraId)
{
    setReceipts({}, from);
    if (!m_client) {
        setStatus(false, tr("No POS server is set."));
        emit failed(m_errorText);
        return;
    }
    setStatus(true, QString());
    m_loadFrom = from;
    m_loadTo = to;
    m_loadCamera = cameraId;
    const TillOffsets offsets = m_clocks ? m_clocks->offsets() : TillOffsets();
    m_fetch.send(
        *m_client, m_client->windowUrl(offsets.requestFrom(from), offsets.requestTo(to)), this,
        [this, from, to, cameraId, offsets](const QByteArray &body) {
            WindowReceipts receipts = readWindowReceipts(body, from, to, cameraId, offsets);
            m_script.swap(receipts.script);
            showReceipts(receipts.records, from);
            setStatus(false, QString());
            emit loaded();
        },
        [this](const QString &message, QNetworkReply::NetworkError) {
            setStatus(false, tr("The receipts could not be fetched: %1").arg(message));
            emit failed(m_errorText);
        });
}

void PlayerReceipts::cancel()
{
    m_fetch.abort();
    setStatus(false, m_errorText);
}

QByteArray PlayerReceipts::script() const
{
    return m_script;
}

bool PlayerReceipts::isLoading() const
{
    return m_loading;
}

QString PlayerReceipts::errorText() const
{
    return m_errorText;
}

void PlayerReceipts::setStatus(bool loading, const QString &error)
{
    if (loading == m_loading && error == m_errorText)
        return;
    m_loading = loading;
    m_errorText = error;
    emit statusChanged();
}

void PlayerReceipts::setReceipts(const QList<PosData> &records, const QDateTime &clipStart)
{
    // Rows given take the place of any fetched: nothing fetched arrives after them.
    m_fetch.abort();
    m_loadFrom = QDateTime();
    m_script.clear();
    setStatus(false, QString());
    showReceipts(records, clipStart);
}

void PlayerReceipts::showReceipts(const QList<PosData> &records, const QDateTime &clipStart)
{
    QList<Row> rows;
    for (const PosData &record : records)
        rows.append({ record.createdAt.isValid() ? clipStart.msecsTo(record.createdAt) / 1000.0 : 0.0, record });
    std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.offset < b.offset; });
    m_clipStart = clipStart;
    replaceRows(m_rows, rows);
    emit countChanged();
    updateCurrent();
}

void PlayerReceipts::setRows(const QVariantList &rows, const QDateTime &clipStart)
{
    QList<PosData> records;
    for (const QVariant &row : rows) {
        const QVariantMap map = row.toMap();
        PosData record;
        record.content = map.value(QStringLiteral("posContent")).toString();
        record.createdAt = map.value(QStringLiteral("posCreatedAt")).toDateTime();
        records.append(record);
    }
    setReceipts(records, clipStart);
}

QList<double> PlayerReceipts::offsets() const
{
    QList<double> all;
    for (const Row &row : m_rows)
        all.append(row.offset);
    return all;
}

int PlayerReceipts::count() const
{
    return m_rows.size();
}

double PlayerReceipts::position() const
{
    return m_position;
}

void PlayerReceipts::setPosition(double seconds)
{
    if (seconds == m_position)
        return;
    m_position = seconds;
    emit positionChanged();
    updateCurrent();
}

int PlayerReceipts::current() const
{
    return m_current;
}

QDateTime PlayerReceipts::clipStart() const
{
    return m_clipStart;
}

double PlayerReceipts::seekTarget(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return 0;
    return std::max(0.0, m_rows.at(row).offset - kLeadSeconds);
}

int PlayerReceipts::nextRow(double seconds) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (seekTarget(row) > seconds + kAtTargetSeconds)
            return row;
    }
    return -1;
}

int PlayerReceipts::previousRow(double seconds) const
{
    for (int row = m_rows.size() - 1; row >= 0; --row) {
        if (seekTarget(row) < seconds - kAtTargetSeconds)
            return row;
    }
    return -1;
}

QString PlayerReceipts::wallTime(double seconds) const
{
    if (!m_clipStart.isValid())
        return QString();
    // Tenths cut, not rounded: the time shown is never later than the frame's.
    const QDateTime at = m_clipStart.addMSecs(qint64(std::floor(seconds * 10)) * 100);
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.")) + QString::number(at.time().msec() / 100);
}

QVariantMap PlayerReceipts::receipt(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return {};
    const PosData &record = m_rows.at(row).record;
    return { { QStringLiteral("receivedAt"),
                 record.createdAt.addMSecs(record.tillClockOffsetMs).toString(Qt::ISODateWithMs) },
        { QStringLiteral("tillClockOffsetMs"), double(record.tillClockOffsetMs) },
        { QStringLiteral("text"), record.content } };
}

QString PlayerReceipts::tillOf(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return QString();
    const PosData &record = m_rows.at(row).record;
    return record.tillName.isEmpty() ? record.tillId : record.tillName;
}

QString PlayerReceipts::setTillClockHere(int row, double seconds)
{
    const QString till = tillOf(row);
    if (!m_clocks || till.isEmpty() || !m_clipStart.isValid())
        return QString();
    const PosData record = m_rows.at(row).record;
    const QDateTime sent = record.createdAt.addMSecs(record.tillClockOffsetMs);
    const qint64 offset = m_clipStart.addMSecs(std::llround(seconds * 1000)).msecsTo(sent);
    if (!sent.isValid() || !m_clocks->setOffsetMs(record.tillId, record.tillName, offset))
        return QString();
    if (offset == 0)
        return tr("%1's clock keeps the cameras' time").arg(till);
    return (
        offset > 0 ? tr("%1's clock runs %2 s ahead of the cameras") : tr("%1's clock runs %2 s behind the cameras"))
        .arg(till, m_clocks->secondsText(double(std::abs(offset))));
}

int PlayerReceipts::size() const
{
    return m_rows.size();
}

QVariant PlayerReceipts::value(int row, int role) const
{
    const Row &r = m_rows.at(row);
    switch (role) {
    case OffsetRole:
        return r.offset;
    case TimeTextRole:
        return r.record.createdAt.isValid() && m_clipStart.isValid()
            ? r.record.createdAt.toOffsetFromUtc(m_clipStart.offsetFromUtc()).toString(QStringLiteral("HH:mm:ss"))
            : QString();
    case ContentRole:
        return r.record.content;
    case PreviewRole:
        return r.record.content.section(QLatin1Char('\n'), 0, 0).trimmed();
    }
    return QVariant();
}

void PlayerReceipts::updateCurrent()
{
    // A receipt counts as passed from its own time on; a thousandth of a second covers the frame
    // whose time is the receipt's, which the player reports as a double.
    int passed = -1;
    for (int row = 0; row < m_rows.size() && m_rows.at(row).offset <= m_position + 0.001; ++row)
        passed = row;
    updateProperty(m_current, passed, this, &PlayerReceipts::currentChanged);
}
