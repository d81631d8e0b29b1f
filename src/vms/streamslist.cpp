#include "vms/streamslist.h"

#include "core/appstate.h"
#include "core/property.h"
#include "net/request.h"

StreamsList::StreamsList(QObject *parent)
    : RowListModel({ { NameRole, QByteArrayLiteral("strmName") }, { IdRole, QByteArrayLiteral("strmId") } }, parent)
{
    Request::answerChallenges(m_manager, this);
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
    Request::send(
        m_manager, QStringLiteral("%1/ec2/getCamerasEx").arg(AppState::get()->base()), this,
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
    m_manager.clearAccessCache();
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
