#include "core/dayclock.h"
#include "testutil.h"

#include <QSignalSpy>
#include <QtTest>

using Times = QList<QPair<QString, int>>;

/// The timeline's day where the clock changes (the pages' own test covers zones east and west of UTC):
/// its length, its first moment, and typed times.
class TestDayClock : public QObject
{
    Q_OBJECT
private slots:
    void wallClock_data();
    void wallClock();
    void notifiesOnlyOnChange();
};

void TestDayClock::wallClock_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<int>("minutes");
    // Typed times and the minute of the day they stand for (-1: the clock skips that time that day).
    QTest::addColumn<Times>("times");

    QTest::newRow("Berlin, clock forward") << QByteArray("Europe/Berlin") << QDate(2026, 3, 29)
                                           << QDateTime(QDate(2026, 3, 28), QTime(23, 0), Qt::UTC) << 1380
                                           << Times { { "01:59", 119 }, { "02:30", -1 }, { "03:00", 120 },
                                                  { "14:00", 780 }, { "14:05", 785 }, { "24:00", 1380 } };
    // The hour from 02:00 comes twice; a typed time means its first pass.
    QTest::newRow("Berlin, clock back") << QByteArray("Europe/Berlin") << QDate(2026, 10, 25)
                                        << QDateTime(QDate(2026, 10, 24), QTime(22, 0), Qt::UTC) << 1500
                                        << Times { { "02:30", 150 }, { "03:00", 240 }, { "14:00", 900 },
                                               { "1405", 905 }, { "24:00", 1500 } };
    // Here the clock skips midnight itself: the day begins at 01:00.
    QTest::newRow("Santiago, midnight skipped")
        << QByteArray("America/Santiago") << QDate(2026, 9, 6) << QDateTime(QDate(2026, 9, 6), QTime(4, 0), Qt::UTC)
        << 1380 << Times { { "00:30", -1 }, { "01:00", 0 }, { "14:00", 780 } };
    const Times malformed { { "", -1 }, { "14", -1 }, { "14:60", -1 }, { "24:01", -1 }, { "25:00", -1 },
        { "ab:cd", -1 }, { "-1:00", -1 }, { " 9:05 ", 545 } };
    QTest::newRow("not times") << QByteArray("UTC") << QDate(2026, 12, 7)
                               << QDateTime(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC) << 1440 << malformed;
}

void TestDayClock::wallClock()
{
    QFETCH(QByteArray, zone);
    QFETCH(QDate, date);
    QFETCH(QDateTime, start);
    QFETCH(int, minutes);
    QFETCH(Times, times);
    ScopedTimeZone tz(zone);

    DayClock day;
    day.setDate(date);
    QCOMPARE(qint64(day.startSecs()), start.toSecsSinceEpoch());
    QCOMPARE(day.minutes(), minutes);
    QCOMPARE(day.clamp(-5), 0);
    QCOMPARE(day.clamp(minutes + 5), minutes);
    QCOMPARE(day.clockMinute(-1), -1);
    QCOMPARE(day.clockMinute(minutes + 1), -1);
    QCOMPARE(day.timeText(minutes), QString("24:00"));
    for (const auto &time : times)
        QVERIFY2(day.minuteAt(time.first) == time.second,
            qPrintable(QStringLiteral("%1 gives %2").arg(time.first).arg(day.minuteAt(time.first))));

    // Typing a minute's label back gives that minute, or its first pass when the hour repeats.
    for (int m = 0; m < minutes; ++m) {
        const int back = day.minuteAt(day.timeText(m));
        QVERIFY2(back == m || (back == m - 60 && minutes == 1500), qPrintable(day.timeText(m)));
    }
}

void TestDayClock::notifiesOnlyOnChange()
{
    DayClock day;
    QSignalSpy changed(&day, &DayClock::dateChanged);
    day.setDate(QDate(2026, 12, 7));
    day.setDate(QDate(2026, 12, 7));
    QCOMPARE(changed.count(), 1);
    day.setDate(QDate());
    QCOMPARE(changed.count(), 2);
    QCOMPARE(day.minutes(), 0);
    QCOMPARE(day.minuteAt("12:00"), -1);
}

QTEST_GUILESS_MAIN(TestDayClock)
#include "tst_dayclock.moc"
