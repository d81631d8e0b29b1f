#include "recordingslist.h"

#include "appstate.h"
#include "request.h"
#include "utils.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QRegularExpression>

#include <limits>

namespace {

qint32 clampToInt(qint64 value)
{
    if (value > std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    if (value < std::numeric_limits<qint32>::min())
        return std::numeric_limits<qint32>::min();
    return static_cast<qint32>(value);
}

/// Milliseconds from start to now; negative for a start in the future.
qint64 elapsedSince(quint64 start, qint64 now)
{
    const quint64 nowMs = static_cast<quint64>(qMax<qint64>(now, 0));
    if (start <= nowMs)
        return static_cast<qint64>(nowMs - start);
    const quint64 ahead = start - nowMs;
    return ahead > quint64(std::numeric_limits<qint32>::max()) ? std::numeric_limits<qint32>::min()
                                                               : -static_cast<qint64>(ahead);
}

/// "durationMs": a period longer than the int range is kept as the longest one it can hold;
/// anything toInt() cannot read (and that is not such a long period) reads as 0.
qint64 readDuration(const QString &text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (ok)
        return value < std::numeric_limits<qint32>::min() ? 0 : value;
    static const QRegularExpression digitsOnly(QStringLiteral("^\\s*\\+?[0-9]+\\s*$"));
    return digitsOnly.match(text).hasMatch() ? std::numeric_limits<qint64>::max() : 0;
}

} // namespace

RecordingsList::RecordingsList(QObject *parent)
    : QAbstractListModel(parent)
    , m_roles({ { StartRole, QByteArrayLiteral("recStartMS") }, { DurationRole, QByteArrayLiteral("recDurationMS") } })
{
    connect(&m_manager, &QNetworkAccessManager::authenticationRequired, this, &RecordingsList::authenticationRequired);
}

int RecordingsList::count() const
{
    return m_rows.size();
}

int RecordingsList::rowCount(const QModelIndex &parent) const
{
    // A flat list: rows have no children of their own.
    return parent.isValid() ? 0 : m_rows.size();
}

int RecordingsList::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant RecordingsList::data(const QModelIndex &index, int role) const
{
    // A size hint must be a size or nothing; a string would be read as an empty size.
    if (role == Qt::SizeHintRole)
        return QVariant();
    const int row = index.row();
    if (row < 0 || row >= m_rows.size())
        return QString();
    switch (role) {
    case StartRole:
        return QVariant::fromValue<qulonglong>(m_rows.at(row).start);
    case DurationRole:
        return QVariant::fromValue<int>(m_rows.at(row).duration);
    default:
        return QString();
    }
}

QHash<int, QByteArray> RecordingsList::roleNames() const
{
    return m_roles;
}

QVariantMap RecordingsList::get(int index) const
{
    if (index < 0 || index >= m_rows.size())
        return {};
    const RecordingData &row = m_rows.at(index);
    return { { QString::fromLatin1(m_roles.value(StartRole)), QVariant::fromValue<qulonglong>(row.start) },
        { QString::fromLatin1(m_roles.value(DurationRole)), QVariant::fromValue<int>(row.duration) } };
}

void RecordingsList::authenticationRequired(QNetworkReply *, QAuthenticator *authenticator)
{
    Request::answerChallenge(authenticator);
}

void RecordingsList::loadRecordingsOfDay(QString id, QDate date)
{
    loadRecording(id, date.startOfDay(Qt::LocalTime), date.endOfDay(Qt::LocalTime));
}

void RecordingsList::loadRecording(QString id, QDateTime start, QDateTime end)
{
    const quint64 generation = ++m_generation;
    // The answer to the previous call would be dropped anyway; spare the server the rest of it.
    if (m_current)
        m_current->abort();
    QNetworkReply *reply = Request::get(m_manager,
        QStringLiteral("%1/ec2/recordedTimePeriods?cameraId=%2&startTime=%3&endTime=%4&desc=1")
            .arg(AppState::get()->base(), id, QString::number(start.toMSecsSinceEpoch()),
                QString::number(end.toMSecsSinceEpoch())));
    m_current = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, generation] { onReplyFinished(reply, generation); });
}

void RecordingsList::onReplyFinished(QNetworkReply *reply, quint64 generation)
{
    reply->deleteLater();
    if (generation != m_generation)
        return;
    m_current = nullptr;
    if (reply->error() != QNetworkReply::NoError) {
        emit errorOccured(Request::errorText(reply));
        return;
    }
    parseRecordingData(reply->readAll());
    emit countChanged();
    emit loadingFinished();
}

void RecordingsList::parseRecordingData(const QByteArray &body)
{
    const QJsonObject top = QJsonDocument::fromJson(body).object();
    if (top.value(QStringLiteral("error")).toString().toInt(nullptr, 10) != 0) {
        emit errorOccured(top.value(QStringLiteral("errorString")).toString());
        return;
    }
    Utils *utils = Utils::get();
    QList<RecordingData> rows;
    const QJsonArray replies = top.value(QStringLiteral("reply")).toArray();
    for (const QJsonValue &element : replies) {
        const QJsonArray periods = element.toObject().value(QStringLiteral("periods")).toArray();
        for (const QJsonValue &periodValue : periods) {
            const QJsonObject period = periodValue.toObject();
            RecordingData row;
            row.start = period.value(QStringLiteral("startTimeMs")).toString().toULongLong(nullptr, 10);
            qint64 duration = readDuration(period.value(QStringLiteral("durationMs")).toString());
            if (duration == -1) {
                // Still recording: the period runs up to now.
                const qint64 now = utils ? utils->now().toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
                duration = elapsedSince(row.start, now);
            }
            row.duration = clampToInt(duration);
            if (utils) {
                utils->printServerDatetime(row.start);
                utils->printDurationInfo(row.duration);
            }
            rows.append(row);
        }
    }
    beginResetModel();
    m_rows.swap(rows);
    endResetModel();
}
