#include "streamslist.h"

#include "appstate.h"
#include "request.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>

StreamsList::StreamsList(QObject *parent)
    : QAbstractListModel(parent)
    , m_roles({ { NameRole, QByteArrayLiteral("strmName") }, { IdRole, QByteArrayLiteral("strmId") } })
{
    connect(&m_manager, &QNetworkAccessManager::authenticationRequired, this, &StreamsList::authenticationRequired);
}

bool StreamsList::isLoading() const
{
    return m_isLoading;
}

void StreamsList::setIsLoading(bool value)
{
    if (m_isLoading == value)
        return;
    m_isLoading = value;
    emit isLoadingChanged();
}

int StreamsList::rowCount(const QModelIndex &parent) const
{
    // A flat list: rows have no children of their own.
    return parent.isValid() ? 0 : m_rows.size();
}

int StreamsList::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant StreamsList::data(const QModelIndex &index, int role) const
{
    // A size hint must be a size or nothing; a string would be read as an empty size.
    if (role == Qt::SizeHintRole)
        return QVariant();
    const int row = index.row();
    if (row < 0 || row >= m_rows.size())
        return QString();
    switch (role) {
    case NameRole:
        return m_rows.at(row).name;
    case IdRole:
        return m_rows.at(row).id;
    default:
        return QString();
    }
}

QHash<int, QByteArray> StreamsList::roleNames() const
{
    return m_roles;
}

QVariantMap StreamsList::get(int index) const
{
    if (index < 0 || index >= m_rows.size())
        return {};
    const StreamData &row = m_rows.at(index);
    return { { QString::fromLatin1(m_roles.value(IdRole)), row.id },
        { QString::fromLatin1(m_roles.value(NameRole)), row.name } };
}

void StreamsList::authenticationRequired(QNetworkReply *, QAuthenticator *authenticator)
{
    Request::answerChallenge(authenticator);
}

void StreamsList::loadStreams()
{
    ++m_pendingLoads;
    setIsLoading(true);
    QNetworkReply *reply = Request::get(m_manager, QStringLiteral("%1/ec2/getCamerasEx").arg(AppState::get()->base()));
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply->error() != QNetworkReply::NoError)
            emit errorOccured(Request::errorText(reply));
        else
            parseStreamsData(reply->readAll());
        reply->deleteLater();
        --m_pendingLoads;
        setIsLoading(m_pendingLoads > 0);
    });
}

void StreamsList::parseStreamsData(const QByteArray &body)
{
    const QJsonArray cameras = QJsonDocument::fromJson(body).array();
    QList<StreamData> rows;
    rows.reserve(cameras.size());
    for (const QJsonValue &camera : cameras) {
        const QJsonObject object = camera.toObject();
        rows.append({ object.value(QStringLiteral("id")).toString(), object.value(QStringLiteral("name")).toString() });
    }
    beginResetModel();
    m_rows.swap(rows);
    endResetModel();
}
