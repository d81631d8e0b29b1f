#include "app/startup.h"
#include "core/appstate.h"
#include "core/common.h"
#include "core/logfile.h"
#include "core/utils.h"
#include "export/exportcontroller.h"
#include "e2eshop.h"
#include "pos/posdownloader.h"
#include "pos/possearching.h"
#include "simdata.h"
#include "simprocess.h"
#include "testutil.h"
#include "vms/streamslist.h"

#include <QImage>
#ifdef TILLMARK_WIDGETS_APPLICATION
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#endif
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <cmath>

namespace {

// A password of its own, with characters that a URL must escape, so that the log can be searched for it.
const QString Password = QStringLiteral("Kx7@w:q%9");
const QString SearchText = QStringLiteral("coffee");

/// Sends every message to "logs.txt", as the program does, while it lives.
class LogToFile
{
public:
    LogToFile()
        : m_previous(qInstallMessageHandler(myMessageOutput))
    {
    }
    ~LogToFile() { qInstallMessageHandler(m_previous); }
    LogToFile(const LogToFile &) = delete;
    LogToFile &operator=(const LogToFile &) = delete;

private:
    QtMessageHandler m_previous;
};

/// Seconds of an ASS time stamp "H:MM:SS.cc".
double assSeconds(const QString &stamp)
{
    const QStringList parts = stamp.split(QLatin1Char(':'));
    return parts.size() == 3 ? parts.at(0).toInt() * 3600 + parts.at(1).toInt() * 60 + parts.at(2).toDouble() : -1;
}

/// Answers the open save dialog with path, as the operator would.
void answerSaveDialog(QObject *dialog, const QString &path)
{
#ifdef TILLMARK_WIDGETS_APPLICATION
    // Here the dialog is the Widgets one: type the whole path into its name field and press Return.
    Q_UNUSED(dialog)
    QFileDialog *widget = nullptr;
    for (QWidget *window : QApplication::topLevelWidgets())
        widget = widget ? widget : qobject_cast<QFileDialog *>(window);
    QVERIFY(widget && widget->isVisible());
    auto *name = widget->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(name);
    name->clear();
    QTest::keyClicks(name, path);
    QTest::keyClick(name, Qt::Key_Return);
    QTRY_VERIFY(!widget->isVisible());
#else
    dialog->setProperty("currentFile", QUrl::fromLocalFile(path));
    QMetaObject::invokeMethod(dialog, "accept");
#endif
}

} // namespace

/// The second job from end to end: the real window against the simulated servers and the real FFmpeg,
/// from the login through the search to the exported video with the receipts burnt in.
class TestE2eExport : public E2eTest
{
    Q_OBJECT
private slots:
    void initTestCase();
    void searchOpenAndExport();

private:
    Singletons m_singletons;
};

void TestE2eExport::initTestCase()
{
    SimProcess::beforeStop() = closeServerConnections;
    // Dates on the page are the machine's. ffprobe reads the exported video.
    shop::prepare(m_singletons, "UTC", { "ffmpeg", "ffprobe" });
}

void TestE2eExport::searchOpenAndExport()
{
    WorkDir dir;
    LogToFile log;

    // What the simulator holds, built here from the same settings.
    const simdata::Config config = shop::config();
    const simdata::Site site = simdata::Site::generate(config);
    // The clip it serves is kept, so that the export's original can be compared with it byte for byte.
    SimProcess sim;
    QVERIFY(shop::startServing(sim, dir, { "--password", Password, "--verbose" }));

    QQmlApplicationEngine engine;
    openMainWindow(engine);
    QVERIFY(!QTest::currentTestFailed());
    logIn(sim.posPort(), sim.vmsPort(), "admin", Password);
    QVERIFY(!QTest::currentTestFailed());
    QTRY_VERIFY_WITH_TIMEOUT(find("stackView"), 20000);

    // Swipe from the recordings to the search page.
    auto *swipe = qobject_cast<QQuickItem *>(find("stackView"));
    QVERIFY(swipe);
    QTRY_VERIFY_WITH_TIMEOUT(!m_singletons.streamsList->property("isLoading").toBool(), 20000);
    const int y = int(swipe->height() * 0.9);
    const QPoint from = swipe->mapToScene(QPointF(swipe->width() * 0.8, y)).toPoint();
    const QPoint to = swipe->mapToScene(QPointF(swipe->width() * 0.1, y)).toPoint();
    QTest::mousePress(m_window, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 10; ++step)
        QTest::mouseMove(m_window, from + (to - from) * step / 10, 15);
    QTest::mouseRelease(m_window, Qt::LeftButton, {}, to);
    QTRY_COMPARE(swipe->property("currentIndex").toInt(), 1);
    // The page slides into place after the release.
    auto *pages = qvariant_cast<QQuickItem *>(swipe->property("contentItem"));
    QVERIFY(pages);
    QTRY_COMPARE(pages->property("contentX").toDouble(), swipe->width());
    // A press while the view still moves only stops it, and the field under it would not get the click.
    QTRY_VERIFY(!pages->property("moving").toBool());

    // Search: every receipt that mentions the word, newest first.
    simdata::ReceiptQuery query;
    query.textContains = SearchText;
    QVector<int> matches = site.select(query);
    QVERIFY(matches.size() > 10);
    std::sort(matches.begin(), matches.end(),
        [&site](int a, int b) { return *site.receipts().at(a).receivedAtMs > *site.receipts().at(b).receivedAtMs; });
    typeInto("txtText", SearchText);
    click(find("btnSearch"));
    auto *list = qobject_cast<QQuickItem *>(find("lstResult"));
    auto *model = qobject_cast<PosSearching *>(find("posSearching"));
    QVERIFY(list && model);
    QTRY_COMPARE_WITH_TIMEOUT(list->property("count").toInt(), matches.size(), 20000);
    QTRY_VERIFY(!find("popLoading")->property("visible").toBool());
    for (int row = 0; row < matches.size(); ++row) {
        const QDateTime at = model->data(model->index(row), PosSearching::CreatedAtRole).toDateTime();
        QCOMPARE(at.toMSecsSinceEpoch(), *site.receipts().at(matches.at(row)).receivedAtMs);
        QCOMPARE(model->data(model->index(row), PosSearching::ContentRole).toString(),
            site.receipts().at(matches.at(row)).text);
    }

    // The receipt to export: seen by two cameras, its window over before the reference time, and a
    // receipt of the other till in that window, which the export must leave out.
    auto camerasOf = [&site](int receipt) {
        return parsePosResult(site.receiptsJson({ receipt }), QString()).constFirst().streams;
    };
    int chosenRow = -1;
    for (int row = 0; row < matches.size() && chosenRow < 0; ++row) {
        const qint64 at = *site.receipts().at(matches.at(row)).receivedAtMs;
        if (camerasOf(matches.at(row)).size() != 2 || at + 90000 > config.nowMs - 60000)
            continue;
        simdata::ReceiptQuery window;
        window.receivedFromMs = at - 90000;
        window.receivedToMs = at + 90000;
        for (int other : site.select(window)) {
            if (camerasOf(other).size() == 1)
                chosenRow = row;
        }
    }
    QVERIFY2(chosenRow >= 0, "no receipt to export in the simulated data");
    const simdata::Receipt &receipt = site.receipts().at(matches.at(chosenRow));
    const qint64 receiptMs = *receipt.receivedAtMs;
    const QList<StreamData> cameras = camerasOf(matches.at(chosenRow));

    // Open it: its whole text and the three minutes around it.
    QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, chosenRow), Q_ARG(int, 4 /* ListView.Contain */));
    QQuickItem *delegate = nullptr;
    QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, delegate), Q_ARG(int, chosenRow));
    QVERIFY(delegate);
    const QDateTime receivedAt = QDateTime::fromMSecsSinceEpoch(receiptMs, Qt::UTC);
    QCOMPARE(
        findNamed(delegate, "lblCreatedAt")->property("text").toString(), receivedAt.toString("yyyy-MM-ddTHH:mm:ss"));
    click(delegate);
    QObject *detail = find("popDetail");
    QTRY_VERIFY(detail->property("opened").toBool());
    QCOMPARE(find("txtContent")->property("text").toString(), receipt.text);
    QCOMPARE(find("lblWindow")->property("text").toString(),
        QStringLiteral("3 minutes around: %1 - %2")
            .arg(receivedAt.addSecs(-90).toString("yyyy-MM-ddTHH:mm:ss"),
                receivedAt.addSecs(90).toString("yyyy-MM-ddTHH:mm:ss")));

    // Its second camera, picked in the camera box.
    QObject *box = find("cbStream");
    QCOMPARE(box->property("count").toInt(), 2);
    QCOMPARE(box->property("currentText").toString(), cameras.at(0).name);
    click(box);
    auto *boxPopup = qvariant_cast<QObject *>(box->property("popup"));
    QVERIFY(boxPopup);
    QTRY_VERIFY(boxPopup->property("opened").toBool());
    auto *choices = qvariant_cast<QQuickItem *>(boxPopup->property("contentItem"));
    QVERIFY(choices);
    QQuickItem *second = nullptr;
    QMetaObject::invokeMethod(choices, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, second), Q_ARG(int, 1));
    click(second);
    QTRY_VERIFY(!boxPopup->property("visible").toBool());
    QCOMPARE(box->property("currentText").toString(), cameras.at(1).name);
    const QString cameraId = cameras.at(1).id;
    QCOMPARE(box->property("currentValue").toString(), cameraId);

    // Export: the save dialog suggests the camera and the window (and adds the suffix), and is answered
    // with a name that holds a blank.
    QObject *dialog = find("saveFileDialog");
    QVERIFY(dialog);
    click(find("btnExport"));
    const QDateTime start = receivedAt.addSecs(-90);
    const QString suggested = QStringLiteral("%1-%2-%3")
                                  .arg(cameras.at(1).name, start.toString("yyyyMMdd_HHmmss"),
                                      receivedAt.addSecs(90).toString("yyyyMMdd_HHmmss"));
    QCOMPARE(dialog->property("currentFile").toUrl().fileName(), suggested + ".mp4");
    QVERIFY(QDir().mkdir("exports"));
    const QString output = dir.filePath("exports/receipt export.mp4");
    QObject *progressBox = find("downloading");
    TextRecorder frames(find("txtFrames"));
    TextRecorder percents(find("lblExportPercent"));
    answerSaveDialog(dialog, output);

    // From "Save" on the progress box shows the export, counting frames and the share of the window
    // encoded, and gives way to the message of success at the end.
    QTRY_VERIFY_WITH_TIMEOUT(progressBox->property("visible").toBool(), 5000);
    QVERIFY(!detail->property("visible").toBool());
    QCOMPARE(find("txtFrames")->property("text").toString(), QString("Processed: 0 frame(s)"));
    QVERIFY(!find("lblExportPhase")->property("text").toString().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!progressBox->property("visible").toBool(), 180000);
    QObject *message = find("popMessage");
    QVERIFY2(!message->property("visible").toBool(), qPrintable(message->property("message").toString()));
    QTRY_VERIFY(find("exportDone")->property("visible").toBool());
    QCOMPARE(find("txtExportPath")->property("text").toString(), QDir::toNativeSeparators(output));
    static const QRegularExpression frameText(QStringLiteral("^Processed: (\\d+) frame\\(s\\)$"));
    int last = 0;
    for (const QString &text : frames.texts) {
        const QRegularExpressionMatch match = frameText.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        QVERIFY2(match.captured(1).toInt() >= last, qPrintable(frames.texts.join(", ")));
        last = match.captured(1).toInt();
    }
    QVERIFY2(last > 0, qPrintable(frames.texts.join(", ")));
    QVERIFY2(percents.texts.size() > 2 && percents.texts.constLast() == "100% of the window encoded",
        qPrintable(percents.texts.join(", ")));

    // The package: five files beside the video; the original is the simulator's clip byte for byte.
    const QString base = dir.filePath("exports/receipt export");
    QCOMPARE(QDir(dir.filePath("exports")).entryList(QDir::Files, QDir::Name),
        QStringList({ "receipt export.ass", "receipt export.manifest.json", "receipt export.mp4",
            "receipt export.original.mkv", "receipt export.sha256" }));
    QVERIFY(readFile(base + ".original.mkv") == readFile(dir.filePath("served.mkv")));
    QProcess check;
    check.setWorkingDirectory(dir.filePath("exports"));
    check.start("sha256sum", { "-c", "receipt export.sha256" });
    QVERIFY(check.waitForFinished(60000));
    const QByteArray checked = check.readAllStandardOutput() + check.readAllStandardError();
    QVERIFY2(check.exitCode() == 0 && checked.count(": OK\n") == 4, checked.constData());

    // The script: the receipts of that camera in the window, as the simulator holds them.
    simdata::ReceiptQuery window;
    window.receivedFromMs = receiptMs - 90000;
    window.receivedToMs = receiptMs + 90000;
    const QVector<int> inWindow = site.select(window);
    const QString script = QString::fromUtf8(readFile("sub.ass"));
    QCOMPARE(readFile(base + ".ass"), readFile("sub.ass"));
    QList<double> receiptTimes;
    for (int index : inWindow) {
        const QString number = site.receipts().at(index).text.section(QLatin1Char('\n'), 3, 3).trimmed();
        QVERIFY(number.contains("No. "));
        bool watched = false;
        for (const StreamData &camera : camerasOf(index))
            watched = watched || camera.id == cameraId;
        QCOMPARE(script.contains(number), watched);
        if (watched)
            receiptTimes << (*site.receipts().at(index).receivedAtMs - (receiptMs - 90000)) / 1000.0;
    }
    QVERIFY(!receiptTimes.isEmpty() && receiptTimes.size() < inWindow.size());
    QCOMPARE(script,
        _convertToAss(QDateTime::fromMSecsSinceEpoch(receiptMs - 90000, Qt::UTC),
            parsePosResult(site.receiptsJson(inWindow), cameraId)));

    // The review copy: three minutes of video with the receipts as a text track, and a chapter from the
    // start and at each receipt.
    const ProbeResult result = probe(output);
    QVERIFY2(result.formatName.contains("mp4"), qPrintable(result.formatName));
    QVERIFY2(std::abs(result.duration - 180) < 1, qPrintable(QString::number(result.duration)));
    // (The MP4 muxer keeps the chapters in a data track of their own as well.)
    QCOMPARE(result.streams.filter(QRegularExpression("^(video|subtitle|audio):")),
        QStringList({ "video:h264", "subtitle:mov_text" }));
    QCOMPARE(result.chapterStarts.size(), receiptTimes.size() + 1);
    QCOMPARE(result.chapterStarts.constFirst(), 0.0);
    for (int i = 0; i < receiptTimes.size(); ++i)
        QVERIFY(std::abs(result.chapterStarts.at(i + 1) - receiptTimes.at(i)) < 0.002);

    // The receipt is in the picture: its frame differs at the top left from the original clip's, while
    // a frame before any receipt hardly differs.
    static const QRegularExpression firstEvent(
        QStringLiteral("^Dialogue: 0,([0-9:.]+),"), QRegularExpression::MultilineOption);
    const double firstShown = assSeconds(firstEvent.match(script).captured(1));
    QVERIFY2(firstShown >= 4, qPrintable(script.left(2000)));
    const QString original = base + ".original.mkv";
    const QRect textArea(0, 0, 160, 90);
    const double quiet = meanDifference(frameAt(output, firstShown / 2), frameAt(original, firstShown / 2), textArea);
    const QImage withReceipt = frameAt(output, 91);
    const QImage without = frameAt(original, 91);
    QVERIFY(!withReceipt.isNull() && withReceipt.size() == without.size());
    const double burnt = meanDifference(withReceipt, without, textArea);
    QVERIFY2(burnt > 10 && burnt > 4 * quiet, qPrintable(QStringLiteral("%1 against %2").arg(burnt).arg(quiet)));

    // "Verify export…" finds the package intact.
    QVERIFY(QMetaObject::invokeMethod(find("exportDone"), "close"));
    m_singletons.exports->verify(base + ".sha256");
    QTRY_VERIFY(message->property("visible").toBool());
    QVERIFY2(message->property("message").toString().startsWith("Intact: "),
        qPrintable(message->property("message").toString()));

    // The password is nowhere in the log, and reached FFmpeg in no form.
    const QString logText = QString::fromUtf8(readFile("logs.txt"));
    QVERIFY(logText.contains("FFmpeg started"));
    QVERIFY(!logText.contains(Password));
    QVERIFY(!logText.contains(QString::fromLatin1(QUrl::toPercentEncoding(Password))));
    QVERIFY(!logText.contains(QStringLiteral("Kx7")));
    const QString arguments = QString::fromUtf8(readFile(base + ".manifest.json"));
    QVERIFY(arguments.contains("\"arguments\"") && !arguments.contains("Kx7"));

    // What the simulator was asked: the window of receipts, then the clip of the chosen camera.
    QVERIFY(sim.stop());
    const QString simLog = QString::fromUtf8(sim.process().readAllStandardError());
    const QString windowRequest
        = QStringLiteral("GET /poses/?received_at__range_after=%1&received_at__range_before=%2")
              .arg(simdata::formatUtc(receiptMs - 90000), simdata::formatUtc(receiptMs + 90000));
    QVERIFY2(simLog.contains(windowRequest), qPrintable(simLog));
    const QRegularExpression clipRequest(
        QStringLiteral("GET /hls/([^ ]+)\\.mkv\\?pos=%1&duration=180&hi=0 -> 200").arg(receiptMs - 90000));
    const QRegularExpressionMatch clip = clipRequest.match(simLog);
    QVERIFY2(clip.hasMatch(), qPrintable(simLog));
    QCOMPARE(QUrl::fromPercentEncoding(clip.captured(1).toLatin1()), cameraId);
}

QTEST_MAIN(TestE2eExport)
#include "tst_e2e_export.moc"
