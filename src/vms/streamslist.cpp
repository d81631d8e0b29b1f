#include "vms/streamslist.h"

#include "core/property.h"
#include "net/vmsclient.h"

StreamsList::StreamsList(QObject *parent)
    : RowListModel({ { NameRole, QByteArrayLiteral("strmName") }, { IdRole, QByteArrayLiteral("strmId") } }, parent)
    , m_client(VmsClient::shared())
{
}

VmsClient *StreamsList::client() const
{
    return m_client;
}

void StreamsList::setClient(VmsClient *client)
{
    m_client = client;
}

bool StreamsList::isLoading() const
{
    return m_isLoading;
}

void StreamsList::setIsLoading(bool value)
{
    updateProperty(m_isLoading, value, this, &StreamsList::isLoadingChanged);
}

int StreamsList::size() const
{
    return m_rows.size();
}

QVariant StreamsList::value(int row, int role) const
{
    return role == NameRole ? m_rows.at(row).name : m_rows.at(row).id;
}

void StreamsList::loadStreams()
{
    ++m_pendingLoads;
    setIsLoading(true);
    auto done = [this] {
        --m_pendingLoads;
        setIsLoading(m_pendingLoads > 0);
    };
    if (!m_client) {
        emit errorOccured(tr("No video server is set."));
        done();
        return;
    }
    m_client->send(
        m_client->camerasUrl(), this,
        [this, done](const QByteArray &body) {
            parseStreamsData(body);
            done();
        },
        [this, done](const QString &message, QNetworkReply::NetworkError) {
            emit errorOccured(message);
            done();
        });
}

void StreamsList::clear()
{
    if (m_client)
        m_client->forgetLogins();
    QList<StreamData> none;
    replaceRows(m_rows, none);
}

void StreamsList::parseStreamsData(const QByteArray &body)
{
    QList<StreamData> rows = parseCameras(body);
    replaceRows(m_rows, rows);
}

int StreamsList::indexOf(const QString &id) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).id == id)
            return row;
    }
    return -1;
}
