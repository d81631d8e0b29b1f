#include "app/startup.h"
#include "core/common.h"
#include "core/timelineview.h"
#include "e2eshop.h"
#include "pos/receiptmarks.h"
#include "simdata.h"
#include "simoptions.h"
#include "simprocess.h"
#include "testutil.h"
#include "vms/streamslist.h"

#ifdef TILLMARK_WIDGETS_APPLICATION
#include <QLineEdit>
#endif
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QtTest>

#include <cmath>

/// Receipts on the timeline from end to end, against the simulated servers and the real FFmpeg: a
/// camera's day shows its receipts as marks where they happened; a mark opens the receipt and exports
/// it; "Show on timeline" brings the receipt's minutes back to the timeline, where "Download" fetches them.
class TestE2eMarks : public E2eTest
{
    Q_OBJECT
private slots:
    void initTestCase();
    void marksOpenExportAndShowOnTimeline();

private:
    /// Clicks a point of the canvas, in its own coordinates.
    void clickCanvas(QQuickItem *canvas, double x, double y);

    Singletons m_singletons;
};

void TestE2eMarks::initTestCase()
{
    SimProcess::beforeStop() = closeServerConnections;
    // An hour ahead of UTC in November, like the shop.
    shop::prepare(m_singletons, "Europe/Paris", { "ffmpeg" });
}

void TestE2eMarks::clickCanvas(QQuickItem *canvas, double x, double y)
{
    QTest::mouseClick(m_window, Qt::LeftButton, {}, canvas->mapToScene(QPointF(x, y)).toPoint());
}

void TestE2eMarks::marksOpenExportAndShowOnTimeline()
{
    WorkDir dir;
    const simdata::Site site = simdata::Site::generate(shop::config());
    SimProcess sim;
    QVERIFY(shop::startServing(sim, dir, { "--verbose" }));

    QQmlApplicationEngine engine;
    openMainWindow(engine);
    QVERIFY(!QTest::currentTestFailed());
    logIn(sim.posPort(), sim.vmsPort(), "admin", "Pelmo4826");
    QVERIFY(!QTest::currentTestFailed());
    QTRY_VERIFY_WITH_TIMEOUT(find("lstStreams") && m_singletons.streamsList->rowCount() == 5
            && !m_singletons.streamsList->isLoading() && !find("popStreamsLoading")->property("visible").toBool(),
        20000);

    // The camera over the first till and the day before the reference time.
    const simdata::Till &till = site.tills().constFirst();
    const simdata::Camera &camera = site.cameras().at(till.cameras.constFirst());
    const int row = m_singletons.streamsList->indexOf(camera.id);
    QVERIFY(row >= 0);
    waitForPageStack();
    QVERIFY(!QTest::currentTestFailed());
    auto *cameras = qobject_cast<QQuickItem *>(find("lstStreams"));
    QQuickItem *cameraRow = nullptr;
    QMetaObject::invokeMethod(cameras, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, cameraRow), Q_ARG(int, row));
    click(cameraRow);
    QTRY_COMPARE(cameras->property("currentIndex").toInt(), row);
    const QDate day(2025, 11, 4);
    click(find("datePicker"));
    QObject *calendar = find("calendar");
    QTRY_VERIFY(qobject_cast<QQuickItem *>(calendar)->isVisible());
    calendar->setProperty("selectedDate", QDateTime(day, QTime(0, 0)));
    click(find("btnDateOk"));

    // The marks: every receipt of that camera on that local day, at its time.
    simdata::ReceiptQuery ofTheDay;
    ofTheDay.receivedFromMs = day.startOfDay().toMSecsSinceEpoch();
    ofTheDay.receivedToMs = day.endOfDay().toMSecsSinceEpoch();
    QVector<qint64> expected;
    QVector<int> seen;
    for (int index : site.select(ofTheDay)) {
        const QList<StreamData> streams
            = parsePosResult(site.receiptsJson({ index }), camera.id).mid(0, 1).value(0).streams;
        if (!streams.isEmpty()) {
            expected << *site.receipts().at(index).receivedAtMs;
            seen << index;
        }
    }
    QVERIFY(expected.size() > 20);
    auto *marks = qobject_cast<ReceiptMarks *>(find("receiptMarks"));
    QVERIFY(marks);
    QTRY_VERIFY_WITH_TIMEOUT(!marks->isLoading(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!marks->isLoading() && marks->count() == expected.size(), 20000);

    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(marks->get(i).value("markTimeMS").toLongLong(), expected.at(i));

    // One receipt with no other within half a minute, seen closely: its mark where it happened.
    int chosen = -1;
    for (int i = 1; i + 1 < expected.size() && chosen < 0; ++i) {
        if (expected.at(i) - expected.at(i - 1) > 30000 && expected.at(i + 1) - expected.at(i) > 30000)
            chosen = i;
    }
    QVERIFY(chosen >= 0);
    const qint64 receiptMs = expected.at(chosen);
    const simdata::Receipt &receipt = site.receipts().at(seen.at(chosen));
    auto *canvas = qobject_cast<QQuickItem *>(find("canvas"));
    auto *view = qobject_cast<TimelineView *>(find("timelineView"));
    QVERIFY(canvas && view);
    QSignalSpy painted(canvas, SIGNAL(painted()));
    view->setZoomFactor(40);
    const double dayStartSecs = find("dayClock")->property("startSecs").toDouble();
    const double minute = (receiptMs / 1000.0 - dayStartSecs) / 60;
    view->centreOn(minute);
    QVERIFY(painted.wait(5000));
    const double x = view->xOfMinute(minute);
    QVariantMap group;
    for (const QVariant &value : view->markGroups()) {
        if (std::abs(value.toMap().value("x").toDouble() - x) < 1)
            group = value.toMap();
    }
    QVERIFY2(!group.isEmpty(), qPrintable(QString::number(x)));
    QCOMPARE(group.value("count").toInt(), 1);
    QCOMPARE(group.value("row").toInt(), chosen);

    // Clicked, it opens the receipt with the timeline's camera chosen, and exports from it.
    clickCanvas(canvas, x, 4);
    QObject *detail = find("popDetail");
    QTRY_VERIFY(detail->property("opened").toBool());
    QCOMPARE(find("txtContent")->property("text").toString(), receipt.text);
    QCOMPARE(find("cbStream")->property("currentValue").toString(), camera.id);
#ifdef TILLMARK_WIDGETS_APPLICATION
    click(find("btnExport"));
    QLineEdit *name = saveDialogName();
    QVERIFY(name);
    const QString output = dir.filePath("mark.mp4");
    name->clear();
    QTest::keyClicks(name, output);
    acceptSaveDialog(name);
    QTRY_VERIFY_WITH_TIMEOUT(find("exportDone")->property("visible").toBool(), 180000);
    QProcess check;
    check.setWorkingDirectory(dir.path());
    check.start("sha256sum", { "-c", "mark.sha256" });
    QVERIFY(check.waitForFinished(60000));
    QVERIFY2(check.exitCode() == 0, check.readAll().constData());
    // The receipt's own number is among the receipts burnt in.
    const QString number = receipt.text.section(QLatin1Char('\n'), 3, 3).trimmed();
    QVERIFY(number.contains("No. "));
    QVERIFY(QString::fromUtf8(readFile(dir.filePath("mark.ass"))).contains(number));
    press(Qt::Key_Escape);
    QTRY_VERIFY(!find("exportDone")->property("visible").toBool());

    // "Show on timeline" from the same receipt: the whole minutes around it selected, which "Download"
    // fetches from the camera.
    clickCanvas(canvas, x, 4);
    QTRY_VERIFY(detail->property("opened").toBool());
    click(find("btnShowOnTimeline"));
    QTRY_VERIFY(!detail->property("visible").toBool());
    QCOMPARE(find("stackView")->property("currentIndex").toInt(), 0);
    const qint64 firstMs = (receiptMs - 90000) / 60000 * 60000;
    const qint64 lastMs = (receiptMs + 90000 + 59999) / 60000 * 60000;
    const QString hhmm = QStringLiteral("HH:mm");
    QCOMPARE(find("txtStart")->property("text").toString(), QDateTime::fromMSecsSinceEpoch(firstMs).toString(hhmm));
    QCOMPARE(find("txtEnd")->property("text").toString(), QDateTime::fromMSecsSinceEpoch(lastMs).toString(hhmm));
    click(find("btnDownload"));
    name = saveDialogName();
    QVERIFY(name);
    acceptSaveDialog(name);
    QTRY_VERIFY_WITH_TIMEOUT(find("popDownloaded")->property("visible").toBool(), 60000);
    QVERIFY(sim.stop());
    const QString simLog = QString::fromUtf8(sim.process().readAllStandardError());
    const QString clipRequest
        = QStringLiteral("?pos=%1&duration=%2&hi=1 -> 200").arg(firstMs).arg((lastMs - firstMs) / 1000);
    QVERIFY2(simLog.contains(clipRequest), qPrintable(clipRequest));
#endif
}

QTEST_MAIN(TestE2eMarks)
#include "tst_e2e_marks.moc"
