#include "core/utils.h"

#include <QAbstractItemModel>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTime>
#include <QUrl>

Utils *Utils::s_inst = nullptr;

Utils::Utils(QObject *parent)
    : QObject(parent)
{
    s_inst = this;
}

Utils::~Utils()
{
    if (s_inst == this)
        s_inst = nullptr;
}

Utils *Utils::get()
{
    return s_inst;
}

bool Utils::isDebug() const
{
    return false;
}

QDateTime Utils::now()
{
    const QDate date = QDate::currentDate();
    const QTime time = QTime::currentTime();
    return QDateTime(date, time, Qt::LocalTime);
}

QDateTime Utils::datetimeFromDateAndMinutes(QDate date, int minutesFromMidnight)
{
    // A time of day on the clock, so there is none outside the day's 1440 minutes.
    if (minutesFromMidnight < 0 || minutesFromMidnight >= 24 * 60)
        return QDateTime();
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(minutesFromMidnight * 60000), Qt::LocalTime);
}

QDateTime Utils::addDateTime(QDateTime base, qlonglong seconds)
{
    return base.addSecs(seconds);
}

int Utils::getDiffBetweenTwoDatetimeInSeconds(QDateTime start, QDateTime end)
{
    return static_cast<int>(start.secsTo(end));
}

void Utils::setVideoUrlSource(VideoUrlSource source)
{
    m_videoUrlSource = std::move(source);
}

QString Utils::getVideoUrl(QString id, QDateTime start, QDateTime end)
{
    return m_videoUrlSource ? m_videoUrlSource(id, start, end) : QString();
}

qulonglong Utils::startDayTimestamp(QDate date)
{
    return datetimeToSecsSinceEpoch(date.startOfDay(Qt::LocalTime));
}

qulonglong Utils::endDayTimestamp(QDate date)
{
    return datetimeToSecsSinceEpoch(date.endOfDay(Qt::LocalTime));
}

qulonglong Utils::datetimeToMSSinceEpoch(QDateTime dt)
{
    return static_cast<qulonglong>(dt.toMSecsSinceEpoch());
}

qulonglong Utils::datetimeToSecsSinceEpoch(QDateTime dt)
{
    return datetimeToMSSinceEpoch(dt) / 1000u;
}

QString Utils::formatDateTime(QDateTime dt)
{
    return dt.toString(Qt::ISODate);
}

QString Utils::formatDatetimeForDownload(QDateTime dt)
{
    return downloadStamp(dt);
}

QString Utils::downloadStamp(const QDateTime &dt)
{
    const QDate date = dt.date();
    const QTime time = dt.time();
    const QChar zero('0');
    return QStringLiteral("%1%2%3_%4%5%6")
        .arg(QString::number(date.year()), QStringLiteral("%1").arg(date.month(), 2, 10, zero),
            QStringLiteral("%1").arg(date.day(), 2, 10, zero), QStringLiteral("%1").arg(time.hour(), 2, 10, zero),
            QStringLiteral("%1").arg(time.minute(), 2, 10, zero), QStringLiteral("%1").arg(time.second(), 2, 10, zero));
}

QString Utils::fileUriToFilePath(QString fileUri)
{
#ifdef Q_OS_WIN
    return fileUri.remove(QStringLiteral("file:///"), Qt::CaseSensitive);
#else
    // Absolute paths here begin with the slash that ends "file:///".
    return fileUri.replace(QStringLiteral("file:///"), QStringLiteral("/"), Qt::CaseSensitive);
#endif
}

QUrl Utils::workingFileUrl(QString name)
{
    return QUrl::fromLocalFile(QDir::current().absoluteFilePath(name));
}

QString Utils::localPath(const QString &fileOrUrl)
{
    if (!fileOrUrl.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return QDir::toNativeSeparators(fileOrUrl);
    // Tolerant: a "%" that starts no escape is taken as itself, and a blank as a blank.
    return QDir::toNativeSeparators(QUrl(fileOrUrl, QUrl::TolerantMode).toLocalFile());
}

QString Utils::localFilePath(QString fileOrUrl)
{
    return localPath(fileOrUrl);
}

QList<StreamData> Utils::mergeCameras(const QList<StreamData> &first, const QList<StreamData> &then)
{
    QList<StreamData> all;
    QSet<QString> seen;
    for (const QList<StreamData> *list : { &first, &then }) {
        for (const StreamData &camera : *list) {
            if (camera.id.isEmpty() || seen.contains(camera.id))
                continue;
            seen.insert(camera.id);
            all << camera;
        }
    }
    return all;
}

QVariantList Utils::knownCameras(QVariantList first, QAbstractItemModel *more)
{
    const QString idKey = QStringLiteral("strmId");
    const QString nameKey = QStringLiteral("strmName");
    QList<StreamData> own;
    for (const QVariant &camera : first)
        own << StreamData { camera.toMap().value(idKey).toString(), camera.toMap().value(nameKey).toString() };
    QList<StreamData> known;
    if (more) {
        const QHash<int, QByteArray> roles = more->roleNames();
        const int idRole = roles.key(idKey.toUtf8(), -1);
        const int nameRole = roles.key(nameKey.toUtf8(), -1);
        for (int row = 0; row < more->rowCount(); ++row) {
            const QModelIndex index = more->index(row, 0);
            known << StreamData { index.data(idRole).toString(), index.data(nameRole).toString() };
        }
    }
    QVariantList all;
    for (const StreamData &camera : mergeCameras(own, known))
        all << QVariantMap { { idKey, camera.id }, { nameKey, camera.name } };
    return all;
}

QUrl Utils::folderUrl(QString path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absolutePath());
}

void Utils::printServerDatetime(qulonglong msecs)
{
    qDebug() << QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(msecs), Qt::LocalTime);
}

void Utils::printDurationInfo(int durationMs)
{
    const int hours = durationMs / 3600000;
    const int minutes = (durationMs % 3600000) / 60000;
    const int seconds = ((durationMs % 3600000) % 60000) / 1000;
    qDebug().noquote() << QStringLiteral("%1 hours %2 minutes %3 seconds").arg(hours).arg(minutes).arg(seconds);
}
