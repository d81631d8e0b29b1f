#include "app/reviewsession.h"
#include "e2e.h"
#include "export/exportcontroller.h"
#include "holdingserver.h"
#include "net/posclient.h"
#include "net/request.h"
#include "net/vmsclient.h"
#include "player/playerreceipts.h"
#include "player/videoplayer.h"
#include "pos/windowreceipts.h"
#include "testserver.h"
#include "testutil.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QtTest>

#include <algorithm>

#include <memory>

namespace {

const QString Camera = QStringLiteral("{cam-1}");
const QString User = QStringLiteral("reviewer");
const QString Password = QStringLiteral("Quorn-5517-secret");
const QDateTime ReceiptAt(QDate(2025, 11, 5), QTime(10, 0), Qt::UTC);

/// The POS server's window: two receipts of the camera (given last one first) and one of another till.
QByteArray windowReply(const QString &firstText)
{
    return QStringLiteral(R"([
        {"text": "LATER\nTOTAL 3.00", "received_at": "2025-11-05T11:00:30+01:00",
         "device": {"streams": [{"nx_id": "{cam-1}", "name": "Till 1"}]}},
        {"text": "OTHER TILL", "received_at": "2025-11-05T10:00:10Z",
         "device": {"streams": [{"nx_id": "{cam-2}", "name": "Till 2"}]}},
        {"text": "%1\nA {PROMO} B\nTOTAL 2.00", "received_at": "2025-11-05T10:00:00Z",
         "device": {"streams": [{"nx_id": "{cam-2}", "name": "Till 2"}, {"nx_id": "{cam-1}", "name": "Till 1"}]}}
    ])")
        .arg(firstText)
        .toUtf8();
}

std::string clipPath()
{
    return "/hls/" + Camera.toStdString() + ".mkv";
}

} // namespace

/// What can go wrong while a receipt's window is watched, as the window's player pane drives it: a second
/// Watch while the first one's answers are on their way, a clip that never arrives whole and is then
/// exported, closing during the transfer, and a server that stalls. A real libmpv player fetches from a
/// scripted video server, the receipts come from a scripted POS server, and exports go through the queue
/// with a stand-in FFmpeg. (The way through when nothing goes wrong is tst_e2e_player's.)
class TestReviewSession : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void secondWatchTakesNothingOfTheFirst();
    void unfinishedClipIsFetchedAnew();
    void closingStopsTheTransfer();
    void failingServerSaysWhyTheOtherGoesOn_data();
    void failingServerSaysWhyTheOtherGoesOn();

private:
    void watch();
    /// Exports the receipt watched through the queue, to its end; its manifest.
    QJsonObject exportWatched(const QString &name);
    int clipRequests() const;

    QTemporaryDir m_clips;
    QByteArray m_clip;
    QByteArray m_path;
    std::unique_ptr<WorkDir> m_work;
    std::unique_ptr<TestServer> m_vmsServer;
    std::unique_ptr<TestServer> m_posServer;
    std::unique_ptr<VmsClient> m_vms;
    std::unique_ptr<PosClient> m_pos;
    std::unique_ptr<QQuickWindow> m_window;
    VideoPlayer *m_player = nullptr;
    std::unique_ptr<PlayerReceipts> m_receipts;
    std::unique_ptr<ExportController> m_exports;
    std::unique_ptr<ReviewSession> m_session;
};

void TestReviewSession::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable("ffmpeg").isEmpty(), "FFmpeg makes the clip");
    QVERIFY(m_clips.isValid());
    const QString clip = m_clips.filePath("served.mkv");
    QVERIFY(renderTestClip(clip));
    m_clip = readFile(clip);
    m_path = qgetenv("PATH");
    // The exports' FFmpeg from here on: it writes a review copy and ends well.
    QVERIFY(installStandIn(m_clips.path(), "ffmpeg",
        "#!/bin/sh\nfor a in \"$@\"; do out=\"$a\"; done\nprintf 'review copy' > \"$out\"\n", m_path));
}

void TestReviewSession::init()
{
    m_work = std::make_unique<WorkDir>();
    m_vmsServer = std::make_unique<TestServer>();
    m_vmsServer->requireAuth(httpauth::Scheme::Digest, User.toStdString(), Password.toStdString());
    TestServer::Reply clip;
    clip.body = m_clip;
    clip.contentType = "video/x-matroska";
    m_vmsServer->route(clipPath(), clip);
    m_posServer = std::make_unique<TestServer>();
    TestServer::Reply receipts;
    receipts.body = windowReply("FIRST WINDOW");
    m_posServer->route("/poses/", receipts);

    m_vms = std::make_unique<VmsClient>();
    m_vms->setBase(m_vmsServer->base());
    m_vms->setAccount(User, Password);
    m_pos = std::make_unique<PosClient>();
    m_pos->setBase(m_posServer->base());

    m_window = std::make_unique<QQuickWindow>();
    m_window->resize(320, 180);
    m_player = new VideoPlayer(m_window->contentItem());
    m_player->setSize(QSizeF(320, 180));
    m_player->setClipDirectory(m_clips.path());
    m_window->show();
    m_receipts = std::make_unique<PlayerReceipts>();
    m_exports = std::make_unique<ExportController>(nullptr, ExportClients { m_vms.get(), m_pos.get() });
    m_session = std::make_unique<ReviewSession>();
    m_session->setClients(m_vms.get(), m_pos.get());
    m_session->setPlayer(m_player);
    m_session->setReceipts(m_receipts.get());
    m_session->setExports(m_exports.get());
}

void TestReviewSession::cleanup()
{
    m_session.reset();
    m_exports.reset();
    m_receipts.reset();
    m_window.reset();
    m_vms.reset();
    m_pos.reset();
    m_vmsServer.reset();
    m_posServer.reset();
    m_work.reset();
    Request::setTransferTimeoutMs(60000);
}

void TestReviewSession::watch()
{
    m_session->watchReceipt(ReceiptAt, "FIRST WINDOW\nA {PROMO} B\nTOTAL 2.00", Camera, "Till 1 Overhead", false);
}

QJsonObject TestReviewSession::exportWatched(const QString &name)
{
    QSignalSpy ended(m_exports.get(), &ExportController::jobEnded);
    const QVariantMap receipt = m_session->watchedReceipt();
    // As the page asks for it.
    if (!m_exports->exportReceipt(receipt.value("createdAt").toDateTime(), receipt.value("content").toString(),
            receipt.value("cameraId").toString(), receipt.value("cameraName").toString(),
            receipt.value("highQuality").toBool(), m_work->filePath(name + ".mp4"))
        || !ended.wait(30000)) {
        return {};
    }
    if (m_exports->job()->state() != ExportJob::Done)
        qWarning() << m_exports->job()->message();
    return QJsonDocument::fromJson(readFile(m_work->filePath(name + ".manifest.json"))).object();
}

int TestReviewSession::clipRequests() const
{
    int count = 0;
    for (const TestServer::Recorded &request : m_vmsServer->requests())
        count += request.path == clipPath() && !request.authorization.empty();
    return count;
}

void TestReviewSession::secondWatchTakesNothingOfTheFirst()
{
    // The first window's receipts come slowly; the second's at once.
    TestServer::Reply slow;
    slow.body = windowReply("FIRST WINDOW");
    slow.delayMs = 700;
    m_posServer->route("/poses/", slow);
    watch();
    QTRY_COMPARE(m_posServer->requestCount(), size_t(1));
    TestServer::Reply fast;
    fast.body = windowReply("SECOND WINDOW");
    m_posServer->route("/poses/", fast);
    QSignalSpy loaded(m_receipts.get(), &PlayerReceipts::loaded);
    const QDateTime second = ReceiptAt.addSecs(30);
    m_session->watchReceipt(second, "SECOND WINDOW", Camera, "Till 1 Overhead", true);
    QVERIFY(loaded.wait(20000));

    // The export's window of each, 90 s either side of the receipt.
    QCOMPARE(m_posServer->requests().back().params.find("received_at__range_after")->second,
        std::string("2025-11-05T09:59:00.000Z"));
    QCOMPARE(m_posServer->requests().back().params.find("received_at__range_before")->second,
        std::string("2025-11-05T10:02:00.000Z"));

    // Once the server is done with the first as well, only the second is shown and drawn.
    QTRY_COMPARE_WITH_TIMEOUT(m_posServer->answeredCount(), size_t(2), 20000);
    QVERIFY(waitForAnotherProcessToEnd());
    QCOMPARE(loaded.count(), 1);
    QVERIFY(m_receipts->get(0).value("content").toString().startsWith("SECOND WINDOW"));
    QCOMPARE(m_player->subtitleScript(),
        readWindowReceipts(fast.body, second.addSecs(-90), second.addSecs(90), Camera).script);
    QCOMPARE(m_receipts->clipStart(), second.addSecs(-90));
    QTRY_VERIFY_WITH_TIMEOUT(m_player->frameDrawn(), 30000);
    // The last clip asked for with the account (over plain HTTP the client also asks once without it, to
    // see which scheme the server wants, whenever that answer comes).
    const auto requests = m_vmsServer->requests();
    const auto last = std::find_if(requests.crbegin(), requests.crend(),
        [](const TestServer::Recorded &request) { return !request.authorization.empty(); });
    QVERIFY(last != requests.crend());
    QCOMPARE(last->params.find("hi")->second, std::string("1"));
}

void TestReviewSession::unfinishedClipIsFetchedAnew()
{
    TestServer::Reply head;
    head.body = m_clip;
    head.contentType = "video/x-matroska";
    // Past the receipt, where playback starts.
    head.stallAfter = m_clip.size() * 2 / 3;
    m_vmsServer->route(clipPath(), head);
    watch();
    QTRY_VERIFY_WITH_TIMEOUT(m_player->frameDrawn(), 30000);
    QCOMPARE(m_player->clipPath(), QString());

    // The server whole again: the export fetches the clip itself, rather than take a part.
    TestServer::Reply whole;
    whole.body = m_clip;
    m_vmsServer->route(clipPath(), whole);
    const QJsonObject manifest = exportWatched("fetched");
    QCOMPARE(m_exports->job()->state(), ExportJob::Done);
    QCOMPARE(manifest.value("originalSource").toObject().value("kind").toString(), QString("server"));
    QCOMPARE(readFile(m_work->filePath("fetched.original.mkv")), m_clip);
    QCOMPARE(clipRequests(), 2);
    m_session->close();
    m_vmsServer->releaseStalled();
}

void TestReviewSession::closingStopsTheTransfer()
{
    HoldingServer holding(m_clip, m_clip.size() * 2 / 3);
    QSignalSpy left(&holding, &HoldingServer::clientLeft);
    m_vms->setBase(holding.base());
    watch();
    QTRY_VERIFY2_WITH_TIMEOUT(m_player->frameDrawn(), qPrintable(m_player->errorText()), 30000);

    m_session->close();
    QVERIFY(left.count() == 1 || left.wait(10000));
    QVERIFY(!m_player->isOpen());
    QCOMPARE(QDir(m_clips.path()).entryList({ "tillmark-clip-*" }, QDir::Files), QStringList());
    QCOMPARE(m_player->errorText(), QString());
}

void TestReviewSession::failingServerSaysWhyTheOtherGoesOn_data()
{
    QTest::addColumn<bool>("videoStalls");
    QTest::newRow("the video server stalls") << true;
    QTest::newRow("the POS server stalls") << false;
}

void TestReviewSession::failingServerSaysWhyTheOtherGoesOn()
{
    QFETCH(bool, videoStalls);
    TestServer::Reply silent;
    silent.stall = true;
    if (videoStalls)
        m_vmsServer->route(clipPath(), silent);
    else
        m_posServer->route("/poses/", silent);
    Request::setTransferTimeoutMs(800);
    QSignalSpy loaded(m_receipts.get(), &PlayerReceipts::loaded);
    QSignalSpy failed(m_receipts.get(), &PlayerReceipts::failed);
    watch();
    if (videoStalls) {
        QTRY_VERIFY_WITH_TIMEOUT(!m_player->errorText().isEmpty(), 20000);
        QVERIFY2(m_player->errorText().contains("did not answer in time"), qPrintable(m_player->errorText()));
        QVERIFY(loaded.count() == 1 || loaded.wait(10000));
        QCOMPARE(m_receipts->count(), 2);
    } else {
        QVERIFY(failed.wait(20000));
        QVERIFY2(m_receipts->errorText().contains("did not answer in time"), qPrintable(m_receipts->errorText()));
        QCOMPARE(m_receipts->count(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_player->frameDrawn(), 30000);
        QCOMPARE(m_player->errorText(), QString());
    }
    m_session->close();
    m_vmsServer->releaseStalled();
    m_posServer->releaseStalled();
}

QTEST_MAIN(TestReviewSession)
#include "tst_reviewsession.moc"
