#include "app/startup.h"
#include "core/common.h"
#include "core/timelineview.h"
#include "e2eshop.h"
#include "export/exportcontroller.h"
#include "export/exportpackage.h"
#include "player/playerreceipts.h"
#include "player/videoplayer.h"
#include "pos/posdownloader.h"
#include "pos/possearching.h"
#include "pos/receiptmarks.h"
#include "simdata.h"
#include "simprocess.h"
#include "testutil.h"
#include "vms/streamslist.h"

#ifdef TILLMARK_WIDGETS_APPLICATION
#include <QFileDialog>
#include <QLineEdit>
#endif
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>

namespace {

const QString SearchText = QStringLiteral("coffee");
const double FrameSeconds = 1.0 / 25;

/// Whether playback that was to start at seconds began there: its first frame shown is that one, within
/// a frame (the player holds it until drawn, so not even a slow machine drops it).
bool startsAt(double first, double seconds)
{
    return std::abs(first - seconds) <= FrameSeconds;
}

/// Runs "sha256sum -c" on a checksum file in its folder; what it said, and whether all of it was OK.
bool checksumsHold(const QString &checksums, int files, QByteArray *said)
{
    QProcess check;
    check.setWorkingDirectory(QFileInfo(checksums).absolutePath());
    check.start("sha256sum", { "-c", QFileInfo(checksums).fileName() });
    if (!check.waitForFinished(60000))
        return false;
    *said = check.readAllStandardOutput() + check.readAllStandardError();
    return check.exitCode() == 0 && said->count(": OK\n") == files;
}

/// What the simulator was asked for clips, one line per request.
QStringList clipRequests(const QString &simLog)
{
    QStringList requests;
    static const QRegularExpression line(QStringLiteral("GET (/hls/[^ ]+) -> 200"));
    for (auto match = line.globalMatch(simLog); match.hasNext();)
        requests << match.next().captured(1);
    return requests;
}

} // namespace

/// The review player in the real window against the simulated servers and the real FFmpeg, from the
/// keyboard: a receipt watched, its next receipt, a still and "Export this", which takes the player's
/// bytes; the finished export played from the queue; the timeline's selection played and exported; a
/// receipt mark watched with W. Escape closes the player and the keys go back where they were.
class TestE2ePlayer : public E2eTest
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void watchReceiptStillAndExportThis();
    void playSelectionAndWatchAMark();

private:
    void logInByKeyboard();
    VideoPlayer *video();
    PlayerReceipts *paneReceipts();
    /// Waits for the first frame of what the player opens next; its time in the clip.
    double firstFrameOf(const std::function<void()> &open);
    /// Presses Escape on the player and checks that it closed and the keys went back to name.
    void closePlayerBackTo(const QString &name);
#ifdef TILLMARK_WIDGETS_APPLICATION
    /// Types path into the save dialog that opens and accepts it; the name it offered.
    QString saveAs(const QString &path);
#endif

    Singletons m_singletons;
    std::unique_ptr<WorkDir> m_dir;
    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    const simdata::Site m_site = simdata::Site::generate(shop::config());
};

void TestE2ePlayer::initTestCase()
{
    SimProcess::beforeStop() = closeServerConnections;
    // A window of each test's own.
    shop::prepare(m_singletons, "UTC", { "ffmpeg", "sha256sum" }, EngineUse::Many);
}

void TestE2ePlayer::init()
{
    m_dir = std::make_unique<WorkDir>();
    m_sim = std::make_unique<SimProcess>();
    QVERIFY(shop::startServing(*m_sim, *m_dir, { "--verbose" }));
    m_engine = std::make_unique<QQmlApplicationEngine>();
    openMainWindow(*m_engine);
}

void TestE2ePlayer::cleanup()
{
    // As a log-out leaves them.
    m_singletons.streamsList->clear();
    m_singletons.exports->forget();
    m_engine.reset();
    m_sim.reset();
    m_dir.reset();
}

void TestE2ePlayer::logInByKeyboard()
{
    QCOMPARE(focused(), find("txtPosHost"));
    press(Qt::Key_A, Qt::ControlModifier);
    type(QStringLiteral("127.0.0.1:%1").arg(m_sim->posPort()));
    press(Qt::Key_Tab);
    press(Qt::Key_A, Qt::ControlModifier);
    type(QStringLiteral("127.0.0.1:%1").arg(m_sim->vmsPort()));
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    QCOMPARE(focused(), find("txtPassword"));
    press(Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(find("stackView"), 20000);
    waitForPageStack();
    QTRY_VERIFY_WITH_TIMEOUT(m_singletons.streamsList->rowCount() == 5 && !m_singletons.streamsList->isLoading()
            && !find("popStreamsLoading")->property("visible").toBool(),
        20000);
}

VideoPlayer *TestE2ePlayer::video()
{
    return qobject_cast<VideoPlayer *>(find("video"));
}

PlayerReceipts *TestE2ePlayer::paneReceipts()
{
    return qvariant_cast<PlayerReceipts *>(find("reviewPlayer")->property("receipts"));
}

double TestE2ePlayer::firstFrameOf(const std::function<void()> &open)
{
    VideoPlayer *player = video();
    double first = -1;
    const auto connection = connect(player, &VideoPlayer::frameDrawnChanged, this, [&first, player] {
        if (player->frameDrawn() && first < 0)
            first = player->framePts();
    });
    open();
    const bool drawn = QTest::qWaitFor([&first] { return first >= 0; }, 60000);
    disconnect(connection);
    if (!drawn)
        qWarning() << "no frame:" << player->errorText();
    return first;
}

void TestE2ePlayer::closePlayerBackTo(const QString &name)
{
    QObject *overlay = find("playerOverlay");
    QVERIFY(overlay->property("opened").toBool());
    press(Qt::Key_Escape);
    QTRY_VERIFY(!overlay->property("visible").toBool());
    QVERIFY(!video()->isOpen());
    QTRY_COMPARE(focused(), find(name));
}

#ifdef TILLMARK_WIDGETS_APPLICATION
QString TestE2ePlayer::saveAs(const QString &path)
{
    QLineEdit *name = saveDialogName();
    if (!name)
        return QString();
    const QString offered = QDir(shownFileDialog()->directory().absolutePath()).filePath(name->text());
    QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(name, path);
    acceptSaveDialog(name);
    return offered;
}
#endif

void TestE2ePlayer::watchReceiptStillAndExportThis()
{
#ifndef TILLMARK_WIDGETS_APPLICATION
    QSKIP("drives the Widgets save dialog");
#else
    logInByKeyboard();
    QVERIFY(!QTest::currentTestFailed());

    // Search, and open with the arrow keys and Return the newest receipt whose window has been recorded.
    press(Qt::Key_2, Qt::ControlModifier);
    press(Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(focused(), find("txtText"));
    type(SearchText);
    press(Qt::Key_Return);
    auto *results = qobject_cast<PosSearching *>(find("posSearching"));
    QTRY_VERIFY_WITH_TIMEOUT(results->rowCount() > 10 && !results->isLoading(), 20000);
    int row = 0;
    while (results->recordAt(row).createdAt.toMSecsSinceEpoch() + 90000 > m_site.config().nowMs - 60000)
        ++row;
    const PosData receipt = results->recordAt(row);
    tabTo("lstResult");
    for (int i = 0; i <= row; ++i)
        press(Qt::Key_Down);
    press(Qt::Key_Return);
    QTRY_VERIFY(find("popDetail")->property("opened").toBool());
    const StreamData camera = receipt.streams.constFirst();
    QCOMPARE(find("cbStream")->property("currentValue").toString(), camera.id);

    // Watch: the export's window from that camera, from 5 s before the receipt; again, and the second
    // replaces the first.
    tabTo("btnWatch");
    const qint64 windowStartMs = receipt.createdAt.toMSecsSinceEpoch() - 90000;
    for (int time = 0; time < 2; ++time) {
        const double first = firstFrameOf([this] { press(Qt::Key_Space); });
        QVERIFY2(startsAt(first, 85), qPrintable(QString::number(first)));
        QVERIFY(find("lstPlayerReceipts")->property("activeFocus").toBool());
        if (time == 0)
            closePlayerBackTo("btnWatch");
    }
    QCOMPARE(find("lblPlayerTitle")->property("text").toString(),
        QStringLiteral("%1, %2 to %3")
            .arg(camera.name, QDateTime::fromMSecsSinceEpoch(windowStartMs).toString("yyyy-MM-dd HH:mm:ss"),
                QDateTime::fromMSecsSinceEpoch(windowStartMs + 180000).toString("HH:mm:ss")));

    // Beside it the camera's receipts of the window, in time order; on it the script the export makes.
    simdata::ReceiptQuery window;
    window.receivedFromMs = windowStartMs;
    window.receivedToMs = windowStartMs + 180000;
    const QList<PosData> expected = parsePosResult(m_site.receiptsJson(m_site.select(window)), camera.id);
    PlayerReceipts *receipts = paneReceipts();
    QTRY_VERIFY_WITH_TIMEOUT(!receipts->isLoading(), 20000);
    QCOMPARE(receipts->count(), expected.size());
    const QByteArray script = _convertToAss(QDateTime::fromMSecsSinceEpoch(windowStartMs, Qt::UTC), expected).toUtf8();
    QTRY_COMPARE(video()->subtitleScript(), script);
    QVERIFY(!QFile::exists("sub.ass"));

    // Paused, then Page Down: 2 s before the receipt watched.
    press(Qt::Key_Space);
    QTRY_VERIFY(video()->paused());
    press(Qt::Key_PageDown);
    QTRY_VERIFY(std::abs(video()->framePts() - 88) <= FrameSeconds / 2);

    // S: a still of that frame, offered under the camera and the frame's time in the Videos folder.
    press(Qt::Key_S);
    const QString stillPath = m_dir->filePath("still.png");
    const QString offered = saveAs(stillPath);
    const QDateTime frameTime = QDateTime::fromMSecsSinceEpoch(windowStartMs + 88000);
    QCOMPARE(QFileInfo(offered).fileName(),
        QStringLiteral("%1-%2.png").arg(safeFileName(camera.name), frameTime.toString("yyyyMMdd_HHmmss_zzz")));
    QCOMPARE(QFileInfo(offered).absolutePath(), QFileInfo(suggestedVideoFolder()).absoluteFilePath());
    QTRY_VERIFY_WITH_TIMEOUT(find("lblStillSaved")->property("text").toString().contains(stillPath), 20000);
    QByteArray said;
    QVERIFY2(checksumsHold(m_dir->filePath("still.sha256"), 2, &said), said.constData());
    const QJsonObject still = QJsonDocument::fromJson(readFile(m_dir->filePath("still.json"))).object();
    QCOMPARE(still["camera"]["id"].toString(), camera.id);
    QCOMPARE(still["frame"]["timeUtc"].toString(), frameTime.toUTC().toString(Qt::ISODateWithMs));
    QVERIFY(!still["clipRequest"].toString().contains("Pelmo"));
    QVERIFY(still["clipRequest"].toString().contains(QStringLiteral("pos=%1&duration=180").arg(windowStartMs)));
    // The frame at the clip's own size: the very frame FFmpeg decodes at that time.
    const QImage stillImage = QImage(stillPath).convertToFormat(QImage::Format_RGB32);
    const QString served = m_dir->filePath("served.mkv");
    const QImage decoded = frameAt(served, 88);
    QCOMPARE(stillImage.size(), decoded.size());
    const double same = meanDifference(stillImage, decoded, stillImage.rect());
    const double next = meanDifference(stillImage, frameAt(served, 88 + 2 * FrameSeconds), stillImage.rect());
    QVERIFY2(same < 4 && same < next, qPrintable(QStringLiteral("%1, the frame after next %2").arg(same).arg(next)));

    // E, once the clip has arrived whole: the receipt's export, which copies the player's bytes.
    QTRY_VERIFY_WITH_TIMEOUT(!video()->clipPath().isEmpty(), 60000);
    const QString fetched = video()->clipPath();
    const QString fetchedDigest = video()->clipSha256();
    press(Qt::Key_E);
    QVERIFY(QDir().mkdir("exports"));
    const QString exported = m_dir->filePath("exports/watched.mp4");
    const QString offeredExport = saveAs(exported);
    QCOMPARE(QFileInfo(offeredExport).fileName(),
        QStringLiteral("%1-%2-%3")
            .arg(camera.name, QDateTime::fromMSecsSinceEpoch(windowStartMs).toString("yyyyMMdd_HHmmss"),
                QDateTime::fromMSecsSinceEpoch(windowStartMs + 180000).toString("yyyyMMdd_HHmmss")));
    QObject *done = find("exportDone");
    QTRY_VERIFY_WITH_TIMEOUT(done->property("visible").toBool(), 300000);
    const PackagePaths package = PackagePaths::forVideo(exported);
    QVERIFY2(checksumsHold(package.checksums, 4, &said), said.constData());
    const QJsonObject manifest = QJsonDocument::fromJson(readFile(package.manifest)).object();
    QCOMPARE(manifest["originalSource"]["kind"].toString(), QString("player"));
    QCOMPARE(manifest["files"][0]["sha256"].toString(), fetchedDigest);
    QCOMPARE(readFile(package.original), readFile(fetched));
    QCOMPARE(readFile(package.original), readFile(served));
    // The receipts drawn are the very bytes the export burnt in.
    QCOMPARE(readFile(package.script), video()->subtitleScript());

    // The box of the finished export goes with Escape, then the player: back on the receipts page.
    press(Qt::Key_Escape);
    QTRY_VERIFY(!done->property("visible").toBool());
    QVERIFY(find("playerOverlay")->property("opened").toBool());
    QVERIFY(find("lstPlayerReceipts")->property("activeFocus").toBool());
    press(Qt::Key_Escape);
    QTRY_VERIFY(!find("playerOverlay")->property("visible").toBool());

    // The finished export from the queue: its review copy, its chapters as ticks, its receipts beside it
    // and not drawn again.
    press(Qt::Key_J, Qt::ControlModifier);
    QTRY_VERIFY(find("queuePanel")->property("opened").toBool());
    // Its rows are made once the panel has been laid out.
    QTRY_VERIFY(find("btnJobPlay"));
    tabTo("btnJobPlay");
    const double first = firstFrameOf([this] { press(Qt::Key_Space); });
    QVERIFY2(startsAt(first, 0), qPrintable(QString::number(first)));
    QTRY_COMPARE(video()->chapters().size(), expected.size() + 1);
    QCOMPARE(receipts->count(), manifest["receipts"].toArray().size());
    QCOMPARE(receipts->count(), expected.size());
    QCOMPARE(video()->subtitleScript(), QByteArray());
    QVERIFY(!find("chkReceiptsOnPicture")->property("visible").toBool());
    closePlayerBackTo("btnJobPlay");

    // The simulator sent the clip to the player only (once for each Watch).
    QVERIFY(m_sim->stop());
    const QStringList clips = clipRequests(QString::fromUtf8(m_sim->process().readAllStandardError()));
    QVERIFY2(!clips.isEmpty() && clips.size() <= 2, qPrintable(clips.join('\n')));
    QCOMPARE(clips.constLast(), clips.constFirst());
#endif
}

void TestE2ePlayer::playSelectionAndWatchAMark()
{
#ifndef TILLMARK_WIDGETS_APPLICATION
    QSKIP("drives the Widgets save dialog");
#else
    logInByKeyboard();
    QVERIFY(!QTest::currentTestFailed());

    // The camera over the first till and the day before the reference time, with two minutes typed.
    const simdata::Camera &camera = m_site.cameras().at(m_site.tills().constFirst().cameras.constFirst());
    const int row = m_singletons.streamsList->indexOf(camera.id);
    QTRY_VERIFY(find("lstStreams")->property("activeFocus").toBool());
    for (int i = 0; i <= row; ++i)
        press(Qt::Key_Down);
    QObject *calendar = find("calendar");
    click(find("datePicker"));
    QTRY_VERIFY(qobject_cast<QQuickItem *>(calendar)->isVisible());
    calendar->setProperty("selectedDate", QDateTime(QDate(2025, 11, 4), QTime(0, 0)));
    click(find("btnDateOk"));
    tabTo("txtStart");
    type("12:00");
    press(Qt::Key_Tab);
    type("12:02");
    press(Qt::Key_Tab);

    // Play: the selected minutes from their start, in the timeline's download quality.
    tabTo("btnPlaySelection");
    const double first = firstFrameOf([this] { press(Qt::Key_Space); });
    QVERIFY2(startsAt(first, 0), qPrintable(QString::number(first)));
    const QDateTime from(QDate(2025, 11, 4), QTime(12, 0), Qt::UTC);
    QVERIFY2(video()
                 ->property("clipRequest")
                 .toString()
                 .endsWith(QStringLiteral("?pos=%1&duration=120&hi=1").arg(from.toMSecsSinceEpoch())),
        qPrintable(video()->property("clipRequest").toString()));
    QTRY_VERIFY_WITH_TIMEOUT(!paneReceipts()->isLoading(), 20000);
    simdata::ReceiptQuery window;
    window.receivedFromMs = from.toMSecsSinceEpoch();
    window.receivedToMs = from.toMSecsSinceEpoch() + 120000;
    const int inWindow = parsePosResult(m_site.receiptsJson(m_site.select(window)), camera.id).size();
    QCOMPARE(paneReceipts()->count(), inWindow);

    // E: that window exported, no receipt chosen, every receipt of the camera in it.
    QTRY_VERIFY_WITH_TIMEOUT(!video()->clipPath().isEmpty(), 60000);
    press(Qt::Key_E);
    const QString exported = m_dir->filePath("selection.mp4");
    QCOMPARE(
        QFileInfo(saveAs(exported)).fileName(), QStringLiteral("%1-20251104_120000-20251104_120200").arg(camera.name));
    QObject *done = find("exportDone");
    QTRY_VERIFY_WITH_TIMEOUT(done->property("visible").toBool(), 300000);
    const PackagePaths package = PackagePaths::forVideo(exported);
    QByteArray said;
    QVERIFY2(checksumsHold(package.checksums, 4, &said), said.constData());
    const QJsonObject manifest = QJsonDocument::fromJson(readFile(package.manifest)).object();
    QVERIFY(manifest["chosenReceipt"].isNull());
    QCOMPARE(manifest["receipts"].toArray().size(), inWindow);
    QCOMPARE(manifest["window"]["lengthSeconds"].toInt(), 120);
    QCOMPARE(manifest["originalSource"]["kind"].toString(), QString("player"));
    press(Qt::Key_Escape);
    QTRY_VERIFY(!done->property("visible").toBool());
    QVERIFY(find("lstPlayerReceipts")->property("activeFocus").toBool());
    closePlayerBackTo("btnPlaySelection");

    // W on a receipt mark of the timeline: that receipt's window, from 5 s before it.
    press(Qt::Key_Backtab);
    QCOMPARE(focused(), find("timelineMouseArea"));
    auto *view = qobject_cast<TimelineView *>(find("timelineView"));
    press(Qt::Key_PageDown);
    QTRY_VERIFY(view->focusedMark() >= 0);
    const qint64 markMs
        = qobject_cast<ReceiptMarks *>(find("receiptMarks"))->get(view->focusedMark()).value("markTimeMS").toLongLong();
    const double watched = firstFrameOf([this] { press(Qt::Key_W); });
    QVERIFY2(startsAt(watched, 85), qPrintable(QString::number(watched)));
    QVERIFY(video()
                ->property("clipRequest")
                .toString()
                .endsWith(QStringLiteral("?pos=%1&duration=180&hi=0").arg(markMs - 90000)));
    closePlayerBackTo("timelineMouseArea");
    QVERIFY(m_sim->stop());
#endif
}

QTEST_MAIN(TestE2ePlayer)
#include "tst_e2e_player.moc"
