#pragma once
#include <QDate>
#include <QObject>
#include <QString>
#include <QVector>

/// One local calendar day as the timeline lays it out: minute m is the instant m minutes after the
/// day's first moment, so the day is as long as it really is (23 or 25 hours when the clock changes),
/// and each minute is labelled by what the wall clock shows then.
class DayClock : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QDate date READ date WRITE setDate NOTIFY dateChanged)
    Q_PROPERTY(double startSecs READ startSecs NOTIFY dateChanged)
    Q_PROPERTY(int minutes READ minutes NOTIFY dateChanged)
public:
    explicit DayClock(QObject *parent = nullptr);

    QDate date() const;
    void setDate(const QDate &date);
    /// Seconds since the epoch of the day's first moment.
    double startSecs() const;
    /// The day's length in whole minutes: 1440, or 1380 and 1500 on the days the clock changes.
    int minutes() const;

    /// The wall-clock time at minute m as minutes after midnight; 1440 at the day's end, -1 outside it.
    Q_INVOKABLE int clockMinute(int m) const;
    /// The time field's text at minute m: "HH:MM"; "24:00" at the day's end; empty outside the day.
    Q_INVOKABLE QString timeText(int m) const;
    /// The first minute of the day whose clock shows text ("H:MM", "HH:MM" or "HHMM"; "24:00" is the
    /// day's end), or -1 when text is no time or the clock skips it that day.
    Q_INVOKABLE int minuteAt(const QString &text) const;
    /// m kept within the day, 0 to minutes().
    Q_INVOKABLE int clamp(int m) const;

signals:
    void dateChanged();

private:
    QDate m_date;
    qint64 m_startSecs = 0;
    /// The wall-clock minute of every minute of the day, the table read by every repaint.
    QVector<short> m_clock;
};
