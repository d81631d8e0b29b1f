#include "app/startup.h"
#include "core/appstate.h"
#include "core/timelineview.h"
#include "e2e.h"
#include "simprocess.h"
#include "testutil.h"
#include "vms/recordingslist.h"
#include "vms/streamslist.h"

#include <QLineEdit>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <cmath>
#include <ctime>

namespace {

// The reference time of the simulated site, and the whole day before it. A period still running at the
// reference time is measured against this machine's clock, so the day shown is one that has ended.
const QString Now = QStringLiteral("2025-11-05T15:00:00Z");
const QDate Day(2025, 11, 4);
const int SiteOffsetMs = 3600000;

} // namespace

/// The first job from end to end: the real window against the simulated servers, driven with the mouse
/// and the keyboard, from the login to the clip on disk.
class TestE2eTimeline : public E2eTest
{
    Q_OBJECT
private slots:
    void initTestCase();
    void selectAndDownload_data();
    void selectAndDownload();

private:
    QPoint canvasPoint(double x) const;
    QVariant evaluateOnCanvas(const QString &expression);

    Singletons m_singletons;
    QQuickItem *m_canvas = nullptr;
    TimelineView *m_view = nullptr;
};

void TestE2eTimeline::initTestCase()
{
    SimProcess::beforeStop() = closeServerConnections;
    // The timeline's day is the machine's; the simulator, a child, takes the same zone.
    qputenv("TZ", "UTC");
    tzset();
    QVERIFY2(!QStandardPaths::findExecutable("ffprobe").isEmpty(), "ffprobe reads the downloaded clip");
    QVERIFY2(!QStandardPaths::findExecutable("ffmpeg").isEmpty(), "FFmpeg renders the simulated clips");
    m_singletons = createSingletons();
    registerQmlTypes(m_singletons, EngineUse::Many); // one engine per row
}

QPoint TestE2eTimeline::canvasPoint(double x) const
{
    return m_canvas->mapToScene(QPointF(x, m_canvas->height() / 2)).toPoint();
}

QVariant TestE2eTimeline::evaluateOnCanvas(const QString &expression)
{
    QQmlExpression evaluation(qmlContext(m_canvas), m_canvas, expression);
    const QVariant value = evaluation.evaluate();
    return evaluation.hasError() ? QVariant() : value;
}

void TestE2eTimeline::selectAndDownload_data()
{
    QTest::addColumn<bool>("fromFile");
    // The simulator renders a clip as it streams it and can announce no length ...
    QTest::newRow("rendered clip") << false;
    // ... while a clip served from a file comes with its length.
    QTest::newRow("clip file") << true;
}

void TestE2eTimeline::selectAndDownload()
{
    QFETCH(bool, fromFile);
    WorkDir dir;

    QStringList arguments { "--seed", "5", "--days", "2", "--now", Now, "--tz-offset-ms", QString::number(SiteOffsetMs),
        "--verbose" };
    QByteArray clipBytes;
    if (fromFile) {
        // A 300-second Matroska clip of its own, small enough to make in a moment.
        const QString path = dir.filePath("served.mkv");
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg",
            { "-v", "error", "-f", "lavfi", "-i", "testsrc=size=160x90:rate=5", "-t", "300", "-c:v", "libx264",
                "-preset", "ultrafast", "-y", path });
        QVERIFY(ffmpeg.waitForFinished(120000));
        QCOMPARE(ffmpeg.exitCode(), 0);
        clipBytes = readFile(path);
        QVERIFY(clipBytes.size() > 10000);
        arguments << "--clip-file" << path;
    }
    SimProcess sim;
    QVERIFY(sim.start(arguments));

    QQmlApplicationEngine engine;
    openMainWindow(engine);
    QVERIFY(!QTest::currentTestFailed());

    // Log in through the page's fields and button.
    QSignalSpy loadingCameras(m_singletons.streamsList, &StreamsList::isLoadingChanged);
    logIn(sim.posPort(), sim.vmsPort(), "admin", "Pelmo4826");

    // The cameras load once the server time is in.
    QTRY_VERIFY_WITH_TIMEOUT(find("lstStreams"), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(loadingCameras.count(), 2, 20000);
    QCOMPARE(AppState::get()->timezoneOffsetMS(), SiteOffsetMs);
    QObject *list = find("lstStreams");
    QCOMPARE(list->property("count").toInt(), 5);
    // The window's page stack takes no input while it slides the new page in.
    QQuickItem *stack = qobject_cast<QQuickItem *>(find("stackView"))->parentItem();
    while (stack && !stack->inherits("QQuickStackView"))
        stack = stack->parentItem();
    QVERIFY(stack);
    QTRY_VERIFY(!stack->property("busy").toBool());
    QCOMPARE(list->property("currentIndex").toInt(), -1);
    QObject *pane = find("timelinePane");
    QVERIFY(pane && !pane->property("visible").toBool());

    // The one camera that records around the clock.
    int row = -1;
    for (int i = 0; i < 5; ++i) {
        if (m_singletons.streamsList->get(i).value("strmName").toString() == "Car Park")
            row = i;
    }
    QVERIFY(row >= 0);
    const QString cameraId = m_singletons.streamsList->get(row).value("strmId").toString();
    QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, row), Q_ARG(int, 4 /* ListView.Contain */));
    QQuickItem *delegate = nullptr;
    QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, delegate), Q_ARG(int, row));
    QVERIFY(delegate);
    auto *recordings = qobject_cast<RecordingsList *>(find("recordingsList"));
    QVERIFY(recordings);
    QSignalSpy loaded(recordings, &RecordingsList::loadingFinished);
    click(delegate);
    QCOMPARE(list->property("currentIndex").toInt(), row);
    QVERIFY(loaded.count() > 0 || loaded.wait(20000)); // the answer may come within the click
    QVERIFY(pane->property("visible").toBool());

    // The simulated site's day, picked on the calendar.
    click(find("datePicker"));
    QObject *calendar = find("calendar");
    QVERIFY(calendar);
    QTRY_VERIFY(qobject_cast<QQuickItem *>(calendar)->isVisible());
    calendar->setProperty("selectedDate", QDateTime(Day, QTime(0, 0)));
    loaded.clear();
    click(find("btnDateOk"));
    QTRY_COMPARE(find("datePicker")->property("selectedDate").toDateTime().date(), Day);
    QVERIFY(loaded.count() > 0 || loaded.wait(20000));
    QVERIFY(recordings->count() > 0);

    // Bring 10:00 into view: the page opens on 11:00 to 13:00. Drag with the right button toward the right.
    m_canvas = qobject_cast<QQuickItem *>(find("canvas"));
    m_view = qobject_cast<TimelineView *>(find("timelineView"));
    QVERIFY(m_canvas && m_view);
    QCOMPARE(m_view->zoomFactor(), 12.0);
    const double pan = 80 * m_view->xPerMinute();
    QTest::mousePress(m_window, Qt::RightButton, {}, canvasPoint(100));
    for (int step = 1; step <= 8; ++step)
        QTest::mouseMove(m_window, canvasPoint(100 + pan * step / 8), 10);
    QTest::mouseRelease(m_window, Qt::RightButton, {}, canvasPoint(100 + pan));
    QVERIFY2(m_view->minuteStart() <= 590, qPrintable(QString::number(m_view->minuteStart())));

    // Select 10:00 to 10:05, each press and move in the middle of its minute.
    const auto xOf = [this](double minute) { return m_view->xOfMinute(minute); };
    QTest::mousePress(m_window, Qt::LeftButton, {}, canvasPoint(xOf(600.5)));
    for (int step = 1; step <= 5; ++step)
        QTest::mouseMove(m_window, canvasPoint(xOf(600.5 + step)), 10);
    QTest::mouseRelease(m_window, Qt::LeftButton, {}, canvasPoint(xOf(605.5)));
    QCOMPARE(m_view->selectMinuteStart(), 600);
    QCOMPARE(m_view->selectMinuteEnd(), 605);
    QCOMPARE(find("lblRange")->property("text").toString(), QString("10:0 - 10:5"));

    // The recorded periods are shaded where they lie, the selection aside; the camera never stops for
    // more than a few minutes, so most of the view is shaded.
    QSignalSpy painted(m_canvas, SIGNAL(painted()));
    QMetaObject::invokeMethod(m_canvas, "requestPaint");
    QVERIFY(painted.wait(5000));
    const qint64 midnight = QDateTime(Day, QTime(0, 0)).toSecsSinceEpoch();
    struct Span {
        double from, to;
    };
    QVector<Span> periods; // seconds since midnight, rounded as the page rounds them
    for (int i = 0; i < recordings->count(); ++i) {
        const QVariantMap period = recordings->get(i);
        const double start = std::ceil(period.value("recStartMS").toDouble() / 1000) - midnight;
        periods.append({ start, start + std::floor(period.value("recDurationMS").toDouble() / 1000) });
    }
    const double secondStart = m_view->secondStart();
    const double xPerSec = m_view->xPerSec();
    const double selectionFrom = xOf(600) - 2;
    const double selectionTo = xOf(605) + 2;
    int shaded = 0;
    int clear = 0;
    for (int x = 0; x < int(m_canvas->width()) - 1; ++x) {
        if (x >= selectionFrom && x <= selectionTo)
            continue;
        const double t0 = secondStart + x / xPerSec;
        const double t1 = secondStart + (x + 1) / xPerSec;
        bool inside = false;
        bool near = false;
        for (const Span &span : periods) {
            inside = inside || (span.from <= t0 && span.to >= t1);
            near = near || (span.from < t1 + 1 && span.to > t0 - 1);
        }
        if (!inside && near)
            continue; // an edge: partly covered
        const QVariantList pixel = evaluateOnCanvas(
            QStringLiteral("Array.prototype.slice.call(getContext('2d').getImageData(%1, %2, 1, 1).data)")
                .arg(x)
                .arg(int(m_canvas->height() / 2)))
                                       .toList();
        QCOMPARE(pixel.size(), 4);
        if (inside) {
            QVERIFY2(
                pixel.at(1).toInt() > 250 && std::abs(pixel.at(3).toInt() - 26) <= 2, qPrintable(QString::number(x)));
            ++shaded;
        } else {
            QVERIFY2(pixel.at(3).toInt() == 0, qPrintable(QString::number(x)));
            ++clear;
        }
    }
    QVERIFY2(shaded > m_canvas->width() / 2, qPrintable(QStringLiteral("%1 shaded, %2 clear").arg(shaded).arg(clear)));

    // Download: the box shows the progress while it runs and closes by itself.
    QObject *box = find("popDownload");
    QObject *field = find("txtDownload");
    QVERIFY(box && field);
    TextRecorder progress(field);
    QObject *button = find("btnDownload");
    QVERIFY(button->property("enabled").toBool());
    click(button);
#ifdef TILLMARK_WIDGETS_APPLICATION
    // The save dialog offers "download.mkv" in the working directory; Return keeps it.
    QLineEdit *name = saveDialogName();
    QVERIFY(name);
    acceptSaveDialog(name);
#else
    QMetaObject::invokeMethod(find("saveFileDialog"), "accept");
#endif
    QTRY_VERIFY_WITH_TIMEOUT(box->property("visible").toBool(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!box->property("visible").toBool(), 240000);
    QObject *message = find("popMessage");
    QVERIFY2(!message->property("visible").toBool(), qPrintable(message->property("message").toString()));

    const QByteArray clip = readFile("download.mkv");
    QVERIFY(!clip.isEmpty());
    const ProbeResult result = probe(dir.filePath("download.mkv"));
    QVERIFY2(result.formatName.contains("matroska"), qPrintable(result.formatName));
    QCOMPARE(result.duration, 300.0);
    if (fromFile)
        QVERIFY(clip == clipBytes);

    QVERIFY(progress.texts.size() >= 2);
    QCOMPARE(progress.texts.constFirst(), QString("Waiting ..."));
    const QString size = QString::number(clip.size() / (1024.0 * 1024.0), 'f', 2) + "MB";
    const QRegularExpression form(fromFile
            ? QStringLiteral("^\\d+\\.\\d\\dMB/%1$").arg(QRegularExpression::escape(size))
            : QStringLiteral("^\\d+\\.\\d\\dMB/N/A$"));
    for (const QString &text : progress.texts.mid(1))
        QVERIFY2(form.match(text).hasMatch(), qPrintable(text));
    QCOMPARE(progress.texts.constLast(), size + "/" + (fromFile ? size : QString("N/A")));

    // What the simulator was asked, in order: the server time before the cameras, then the clip of the
    // selected five minutes.
    QVERIFY(sim.stop());
    const QString log = QString::fromUtf8(sim.process().readAllStandardError());
    const int time = log.indexOf("GET /api/getTime ");
    const int cameras = log.indexOf("GET /ec2/getCamerasEx ");
    QVERIFY2(time >= 0 && cameras > time, qPrintable(log));
    const qint64 pos = QDateTime(Day, QTime(10, 0), Qt::UTC).toMSecsSinceEpoch();
    const QRegularExpression clipLine(
        QStringLiteral("GET /hls/[^ ]+\\.mkv\\?pos=%1&duration=300&hi=1 -> 200").arg(pos));
    QCOMPARE(log.count(clipLine), 1);
    QVERIFY(log.contains(QUrl::toPercentEncoding(cameraId)) || log.contains(cameraId));
}

QTEST_MAIN(TestE2eTimeline)
#include "tst_e2e_timeline.moc"
