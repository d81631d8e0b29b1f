#include "net/posclient.h"

#include "core/appstate.h"

#include <QUrl>

PosClient::PosClient(QObject *parent)
    : ServerClient(parent)
{
}

PosClient *PosClient::shared()
{
    return sharedFollowingSettings<PosClient>();
}

void PosClient::readSettings(AppState &settings)
{
    setBase(settings.posBase());
}

QString PosClient::searchUrl(const QString &content, const QDate &from, const QDate &to)
{
    return searchUrlOn(base(), content, from, to);
}

QString PosClient::windowUrl(const QDateTime &from, const QDateTime &to)
{
    return windowUrlOn(base(), from, to);
}

QString PosClient::searchUrlOn(const QString &posBase, const QString &content, const QDate &from, const QDate &to)
{
    // Encoding every reserved character keeps "&", "#", "+" and "%" inside the value, so the
    // server searches for exactly what was typed.
    QString url
        = posBase + QStringLiteral("/poses/?text__icontains=") + QString::fromLatin1(QUrl::toPercentEncoding(content));
    // The bounds in the form of the window request: UTC with milliseconds.
    if (from.isValid()) {
        url += QStringLiteral("&received_at__range_after=")
            + from.startOfDay(Qt::LocalTime).toUTC().toString(Qt::ISODateWithMs);
    }
    if (to.isValid())
        url += QStringLiteral("&received_at__range_before=")
            + to.endOfDay(Qt::LocalTime).toUTC().toString(Qt::ISODateWithMs);
    return url;
}

QString PosClient::windowUrlOn(const QString &posBase, const QDateTime &from, const QDateTime &to)
{
    return QStringLiteral("%1/poses/?received_at__range_after=%2&received_at__range_before=%3")
        .arg(posBase, from.toUTC().toString(Qt::ISODateWithMs), to.toUTC().toString(Qt::ISODateWithMs));
}
