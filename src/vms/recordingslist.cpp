#include "vms/recordingslist.h"

#include "core/utils.h"
#include "net/vmsclient.h"

RecordingsList::RecordingsList(QObject *parent)
    : RowListModel(
        { { StartRole, QByteArrayLiteral("recStartMS") }, { DurationRole, QByteArrayLiteral("recDurationMS") } },
        parent)
    , m_clock([] {
        Utils *utils = Utils::get();
        return utils ? utils->now().toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
    })
{
    m_client = VmsClient::shared();
}

VmsClient *RecordingsList::client() const
{
    return m_client;
}

void RecordingsList::setClient(VmsClient *client)
{
    m_client = client;
}

int RecordingsList::count() const
{
    return m_rows.size();
}

void RecordingsList::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

int RecordingsList::size() const
{
    return m_rows.size();
}

QVariant RecordingsList::value(int row, int role) const
{
    const RecordingData &data = m_rows.at(row);
    return role == StartRole ? QVariant::fromValue<qulonglong>(data.start) : QVariant::fromValue<int>(data.duration);
}

void RecordingsList::loadRecordingsOfDay(QString id, QDate date)
{
    loadRecording(id, date.startOfDay(Qt::LocalTime), date.endOfDay(Qt::LocalTime));
}

void RecordingsList::loadRecording(QString id, QDateTime start, QDateTime end)
{
    if (!m_client) {
        emit errorOccured(tr("No video server is set."));
        return;
    }
    m_latest.send(
        *m_client, m_client->periodsUrl(id, start.toMSecsSinceEpoch(), end.toMSecsSinceEpoch()), this,
        [this](const QByteArray &body) {
            parseRecordingData(body);
            emit countChanged();
            emit loadingFinished();
        },
        [this](const QString &message, QNetworkReply::NetworkError) { emit errorOccured(message); });
}

void RecordingsList::parseRecordingData(const QByteArray &body)
{
    Periods periods = parsePeriods(body, m_clock());
    if (periods.refusal) {
        emit errorOccured(*periods.refusal);
        return;
    }
    if (Utils *utils = Utils::get()) {
        for (const RecordingData &row : qAsConst(periods.rows)) {
            utils->printServerDatetime(row.start);
            utils->printDurationInfo(row.duration);
        }
    }
    replaceRows(m_rows, periods.rows);
}
