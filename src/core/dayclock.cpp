#include "core/dayclock.h"

#include <QDateTime>
#include <QRegularExpression>

DayClock::DayClock(QObject *parent)
    : QObject(parent)
{
}

QDate DayClock::date() const
{
    return m_date;
}

void DayClock::setDate(const QDate &date)
{
    if (m_date == date)
        return;
    m_date = date;
    m_clock.clear();
    m_startSecs = 0;
    if (date.isValid()) {
        const QDateTime start = date.startOfDay(Qt::LocalTime);
        const qint64 end = date.addDays(1).startOfDay(Qt::LocalTime).toSecsSinceEpoch();
        m_startSecs = start.toSecsSinceEpoch();
        const int length = int((end - m_startSecs) / 60);
        m_clock.reserve(length);
        for (int m = 0; m < length; ++m) {
            const QTime time = QDateTime::fromSecsSinceEpoch(m_startSecs + m * 60, Qt::LocalTime).time();
            m_clock.append(short(time.hour() * 60 + time.minute()));
        }
    }
    emit dateChanged();
}

double DayClock::startSecs() const
{
    return double(m_startSecs);
}

int DayClock::minutes() const
{
    return m_clock.size();
}

int DayClock::clockMinute(int m) const
{
    if (m < 0 || m > m_clock.size())
        return -1;
    return m == m_clock.size() ? 24 * 60 : m_clock.at(m);
}

QString DayClock::timeText(int m) const
{
    const int clock = clockMinute(m);
    if (clock < 0)
        return QString();
    return QStringLiteral("%1:%2").arg(clock / 60, 2, 10, QLatin1Char('0')).arg(clock % 60, 2, 10, QLatin1Char('0'));
}

int DayClock::minuteAt(const QString &text) const
{
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d{1,2}):?(\\d\\d)\\s*$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch() || m_clock.isEmpty())
        return -1;
    const int hour = match.captured(1).toInt();
    const int minute = match.captured(2).toInt();
    if (minute > 59 || hour > 24 || (hour == 24 && minute != 0))
        return -1;
    if (hour == 24)
        return m_clock.size();
    // On the day the clock goes back an hour repeats; its first pass is the one meant.
    return m_clock.indexOf(short(hour * 60 + minute));
}

int DayClock::clamp(int m) const
{
    return qBound(0, m, m_clock.size());
}
