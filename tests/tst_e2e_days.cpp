#include "app/startup.h"
#include "core/timelineview.h"
#include "e2e.h"
#include "testserver.h"
#include "testutil.h"
#include "vms/streamslist.h"

#include <QLineEdit>
#include <QLocale>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

/// The day in the date picker is the day on the timeline and in the clip request, in zones east and
/// west of UTC and on the days the clock changes: "14:00 - 14:05" typed on any of them asks for the
/// five minutes from 14:00 by the local clock, and a recording made then is shaded under the selection.
class TestE2eDays : public E2eTest
{
    Q_OBJECT
private slots:
    void initTestCase();
    void dayToClipRequest_data();
    void dayToClipRequest();

private:
    Singletons m_singletons;
};

void TestE2eDays::initTestCase()
{
    m_singletons = createSingletons();
    registerQmlTypes(m_singletons, EngineUse::Many); // one engine per zone
}

void TestE2eDays::dayToClipRequest_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDate>("day");
    QTest::newRow("Berlin, clock forward") << QByteArray("Europe/Berlin") << QDate(2026, 3, 29);
    QTest::newRow("Berlin, clock back") << QByteArray("Europe/Berlin") << QDate(2026, 10, 25);
    QTest::newRow("Tokyo") << QByteArray("Asia/Tokyo") << QDate(2026, 3, 29);
    QTest::newRow("Los Angeles, clock back") << QByteArray("America/Los_Angeles") << QDate(2026, 11, 1);
}

void TestE2eDays::dayToClipRequest()
{
#ifndef TILLMARK_WIDGETS_APPLICATION
    QSKIP("drives the Widgets save dialog");
#else
    QFETCH(QByteArray, zone);
    QFETCH(QDate, day);
    ScopedTimeZone tz(zone);
    WorkDir dir;

    const qint64 clipStart = QDateTime(day, QTime(14, 0), Qt::LocalTime).toMSecsSinceEpoch();
    TestServer server;
    TestServer::Reply reply;
    reply.body = R"({"error":"0","errorString":"","reply":{"timeZoneOffset":"0"}})";
    server.route("/api/getTime", reply);
    reply.body = R"([{"id":"cam-1","name":"Entrance"}])";
    server.route("/ec2/getCamerasEx", reply);
    // Recorded from 14:00 to 14:05 by the local clock.
    reply.body = QStringLiteral(R"({"error":"0","reply":[{"periods":[{"startTimeMs":"%1","durationMs":"300000"}]}]})")
                     .arg(clipStart)
                     .toUtf8();
    server.route("/ec2/recordedTimePeriods", reply);
    reply.body = "clip";
    server.route("/hls/cam-1.mkv", reply);

    m_singletons.streamsList->clear(); // the cameras of the last row's window
    QQmlApplicationEngine engine;
    openMainWindow(engine);
    QVERIFY(!QTest::currentTestFailed());
    logIn(1, server.port(), "admin", "x");
    QTRY_VERIFY_WITH_TIMEOUT(
        m_singletons.streamsList->rowCount() == 1 && !m_singletons.streamsList->isLoading(), 10000);
    // A camera, then the day on the calendar, with the keys: whole months from today, then the day.
    press(Qt::Key_Down);
    QTRY_VERIFY(find("timelinePane")->property("visible").toBool());
    QObject *picker = find("datePicker");
    press(Qt::Key_Tab);
    QCOMPARE(focused(), picker);
    press(Qt::Key_Space);
    QObject *calendar = find("calendar");
    QTRY_VERIFY(calendar->property("activeFocus").toBool());
    const QDate today = QDate::currentDate();
    const int months = (day.year() - today.year()) * 12 + day.month() - today.month();
    for (int i = 0; i < qAbs(months); ++i)
        press(months < 0 ? Qt::Key_PageUp : Qt::Key_PageDown);
    press(Qt::Key_Home);
    for (int i = 1; i < day.day(); ++i)
        press(Qt::Key_Right);
    press(Qt::Key_Return);
    QTRY_VERIFY(!find("datePopup")->property("visible").toBool());
    QTRY_COMPARE(picker->property("displayText").toString(), QLocale().toString(day, QLocale::ShortFormat));
    QCOMPARE(picker->property("selectedDate").toDate(), day);
    // The periods asked for are those of that local day.
    const auto last = [&server](const char *key) {
        const auto requests = server.requests();
        if (requests.empty())
            return std::string();
        const auto found = requests.back().params.find(key);
        return found == requests.back().params.end() ? std::string() : found->second;
    };
    QTRY_COMPARE(last("startTime"), std::to_string(day.startOfDay().toMSecsSinceEpoch()));
    QCOMPARE(last("endTime"), std::to_string(day.endOfDay().toMSecsSinceEpoch()));

    // From the date box on to the two time fields.
    press(Qt::Key_Tab);
    QCOMPARE(focused(), find("txtStart"));
    type("14:00");
    press(Qt::Key_Tab);
    QCOMPARE(focused(), find("txtEnd"));
    type("14:05");
    press(Qt::Key_Tab);
    QCOMPARE(find("lblRange")->property("text").toString(), QString("14:0 - 14:5"));
    // The selection lies exactly over the recording of those minutes, once both are in view.
    auto *view = qobject_cast<TimelineView *>(find("timelineView"));
    QVERIFY(view);
    QObject *timeline = find("timelineMouseArea");
    qobject_cast<QQuickItem *>(timeline)->forceActiveFocus();
    press(Qt::Key_Right);
    press(Qt::Key_Left);
    const QVariantMap selection = view->selectionSpan().toMap();
    const QVariantList periods = view->periodSpans();
    QVERIFY2(selection.value("to").toDouble() <= view->width(), "the selection is in view");
    QCOMPARE(periods.size(), 2); // the one recording, in view
    QCOMPARE(qRound(selection.value("from").toDouble()), qRound(periods.at(0).toDouble()));
    QCOMPARE(qRound(selection.value("to").toDouble()), qRound(periods.at(1).toDouble()));

    // Download, keeping the file the save dialog offers.
    press(Qt::Key_Backtab);
    QCOMPARE(focused(), find("btnDownload"));
    press(Qt::Key_Space);
    QLineEdit *name = saveDialogName();
    QVERIFY(name);
    QCOMPARE(name->text(), QString("download.mkv"));
    acceptSaveDialog(name);
    QTRY_VERIFY_WITH_TIMEOUT(find("popDownloaded")->property("opened").toBool(), 10000);
    QCOMPARE(server.requests().back().path, std::string("/hls/cam-1.mkv"));
    QCOMPARE(last("pos"), std::to_string(clipStart));
    QCOMPARE(last("duration"), std::string("300"));
    QCOMPARE(readFile(dir.filePath("download.mkv")), QByteArray("clip"));
#endif
}

QTEST_MAIN(TestE2eDays)
#include "tst_e2e_days.moc"
