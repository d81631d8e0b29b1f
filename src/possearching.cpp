#include "possearching.h"

#include "appstate.h"

#include <QNetworkReply>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <vector>

PosSearching::PosSearching(QObject *parent)
    : QAbstractListModel(parent)
{
    m_roles.insert(ContentRole, QByteArrayLiteral("posContent"));
    m_roles.insert(ContentOneLineRole, QByteArrayLiteral("posContentOneLine"));
    m_roles.insert(CreatedAtRole, QByteArrayLiteral("posCreatedAt"));
    m_roles.insert(StreamsRole, QByteArrayLiteral("posStreams"));
}

bool PosSearching::isLoading() const
{
    return m_isLoading;
}

void PosSearching::setIsLoading(bool value)
{
    if (m_isLoading == value)
        return;
    m_isLoading = value;
    emit isLoadingChanged();
}

int PosSearching::rowCount(const QModelIndex &parent) const
{
    // A flat list: no row has children.
    return parent.isValid() ? 0 : m_records.size();
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
        return oneLine.replace(QLatin1Char('\n'), QLatin1String("\\n"));
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
    }
    return QVariant();
}

QHash<int, QByteArray> PosSearching::roleNames() const
{
    return m_roles;
}

QString PosSearching::searchUrl(const QString &posBase, const QString &content, const QDate &from, const QDate &to)
{
    // Encoding every reserved character keeps "&", "#", "+" and "%" inside the value, so the
    // server searches for exactly what was typed.
    QString url
        = posBase + QStringLiteral("/poses/?text__icontains=") + QString::fromLatin1(QUrl::toPercentEncoding(content));
    // The bounds in the form of the window download: UTC with milliseconds.
    if (from.isValid()) {
        url += QStringLiteral("&received_at__range_after=")
            + from.startOfDay(Qt::LocalTime).toUTC().toString(Qt::ISODateWithMs);
    }
    if (to.isValid())
        url += QStringLiteral("&received_at__range_before=")
            + to.endOfDay(Qt::LocalTime).toUTC().toString(Qt::ISODateWithMs);
    return url;
}

void PosSearching::searchByContent(const QString &content)
{
    searchByContentInDays(content, QDate(), QDate());
}

void PosSearching::searchByContentInDays(const QString &content, const QDate &from, const QDate &to)
{
    m_latest.send(
        m_manager, searchUrl(AppState::get()->posBase(), content, from, to), this,
        [this](const QByteArray &body) {
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
