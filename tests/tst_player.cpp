#include "app/startup.h"
#include "core/appstate.h"
#include "net/request.h"
#include "net/vmsclient.h"
#include "player/playerreceipts.h"
#include "player/videoplayer.h"
#include "pos/posdownloader.h"
#include "holdingserver.h"
#include "testserver.h"
#include "testutil.h"

#include <QAccessible>
#include <QAuthenticator>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QProcess>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>

namespace {

const int kFps = 25;
const int kBits = 12;
const int kClipSeconds = 120;
const QSize kClipSize(320, 240);
const QString kUser = QStringLiteral("reviewer");
const QString kPassword = QStringLiteral("Quorn-5517-secret");

/// The number a frame of the numbered clip shows: bit i, least significant first, is the i-th of the
/// column stripes, white when set, in the top half; the bottom half holds the inverse, so that a picture
/// that is not such a frame reads as -1 rather than as a wrong number.
int frameNumber(const QImage &image)
{
    if (image.isNull())
        return -1;
    int number = 0;
    for (int bit = 0; bit < kBits; ++bit) {
        const int x = int((bit + 0.5) * image.width() / kBits);
        const bool top = qGray(image.pixel(x, image.height() / 4)) > 128;
        const bool bottom = qGray(image.pixel(x, image.height() * 3 / 4)) > 128;
        if (top == bottom)
            return -1;
        number |= int(top) << bit;
    }
    return number;
}

/// What FFmpeg shows at seconds into the clip: the frame an accurate seek there decodes first.
int ffmpegFrameAt(const QString &clip, double seconds)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
        { "-v", "error", "-ss", QString::number(seconds, 'f', 3), "-i", clip, "-frames:v", "1", "-f", "rawvideo",
            "-pix_fmt", "gray", "-" });
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        return -2;
    const QByteArray pixels = ffmpeg.readAllStandardOutput();
    if (pixels.size() != kClipSize.width() * kClipSize.height())
        return -2;
    return frameNumber(QImage(reinterpret_cast<const uchar *>(pixels.constData()), kClipSize.width(),
        kClipSize.height(), kClipSize.width(), QImage::Format_Grayscale8)
                           .copy());
}

bool runFfmpeg(const QStringList &arguments)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList { "-v", "error", "-y" } + arguments);
    if (ffmpeg.waitForFinished(10 * 60000) && ffmpeg.exitCode() == 0)
        return true;
    qWarning() << ffmpeg.readAllStandardError();
    return false;
}

/// Pixels where the picture with the receipts differs clearly from the one without: the receipts' text.
QVector<bool> textMask(const QImage &with, const QImage &without)
{
    QVector<bool> mask(with.width() * with.height());
    for (int y = 0; y < with.height(); ++y) {
        for (int x = 0; x < with.width(); ++x)
            mask[y * with.width() + x] = std::abs(qGray(with.pixel(x, y)) - qGray(without.pixel(x, y))) > 60;
    }
    return mask;
}

} // namespace

/// The review player against real libmpv and clips made by FFmpeg whose frames show their own number.
class TestPlayer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstFrameIsTheStart_data();
    void firstFrameIsTheStart();
    void frameStepsMoveOneFrame();
    void stillIsTheFrameShown();
    void receiptsAreDrawnAsTheExportBurnsThem();
    void noAccountReachesMpv();
    void failedTransferSaysWhy_data();
    void failedTransferSaysWhy();
    void closingCancelsTheTransfer();
    void secondOpenReplacesTheFirst();
    void completedClipIsKeptWithItsDigest();
    void receiptsFollowPlayback();
    void paneWorksFromTheKeyboard();

private:
    /// A player in a shown window of its own, at the clip's size, that fetches through m_network.
    VideoPlayer *makePlayer(QSize size = kClipSize);
    QString clipUrl(const QString &path = QStringLiteral("/hls/clip.mkv")) const;

    QTemporaryDir m_dir;
    QString m_clip;
    QByteArray m_clipBytes;
    TestServer m_server;
    VmsClient m_client;
    std::unique_ptr<QQuickWindow> m_window;
    Singletons m_singletons;
};

void TestPlayer::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable("ffmpeg").isEmpty(), "FFmpeg makes the clips");
    QVERIFY(m_dir.isValid());
    m_clip = m_dir.filePath("numbered.mkv");
    // Column stripes of the frame number's bits; H.264 with a key frame every two seconds, so that an exact
    // seek has frames to decode past the key frame.
    const QString bit = QStringLiteral("mod(floor(N/pow(2,floor(X*%1/W))),2)").arg(kBits);
    QVERIFY(runFfmpeg({ "-f", "lavfi", "-i",
        QStringLiteral("nullsrc=s=%1x%2:r=%3:d=%4,format=gray,geq=lum='if(lt(Y,H/2),%5,1-%5)*255'")
            .arg(kClipSize.width())
            .arg(kClipSize.height())
            .arg(kFps)
            .arg(kClipSeconds)
            .arg(bit),
        "-c:v", "libx264", "-preset", "veryfast", "-crf", "16", "-g", "50", "-pix_fmt", "yuv420p", m_clip }));
    m_clipBytes = readFile(m_clip);
    QVERIFY(!m_clipBytes.isEmpty());
    QCOMPARE(ffmpegFrameAt(m_clip, 90), 90 * kFps);

    m_singletons = createSingletons();
    registerQmlTypes(m_singletons);
    TestServer::Reply clip;
    clip.body = m_clipBytes;
    clip.contentType = "video/x-matroska";
    m_server.route("/hls/clip.mkv", clip);
    m_server.requireAuth(httpauth::Scheme::Digest, kUser.toStdString(), kPassword.toStdString());
    m_client.setAccount(kUser, kPassword);
}

void TestPlayer::init()
{
    m_window = std::make_unique<QQuickWindow>();
}

void TestPlayer::cleanup()
{
    m_window.reset();
    Request::setTransferTimeoutMs(60000);
}

VideoPlayer *TestPlayer::makePlayer(QSize size)
{
    m_window->resize(size);
    auto *player = new VideoPlayer(m_window->contentItem());
    player->setSize(size);
    player->setClient(&m_client);
    player->setClipDirectory(m_dir.path());
    m_window->show();
    return player;
}

QString TestPlayer::clipUrl(const QString &path) const
{
    return m_server.base() + path + QStringLiteral("?pos=1762354710000&duration=120&hi=1");
}

void TestPlayer::firstFrameIsTheStart_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<bool>("paused");
    QTest::newRow("90 s, paused") << 90.0 << true;
    QTest::newRow("90 s, playing") << 90.0 << false;
    QTest::newRow("between two frames") << 85.53 << true;
    QTest::newRow("on a key frame") << 62.0 << true;
    QTest::newRow("the frame before a key frame") << 63.96 << true;
    QTest::newRow("the very start") << 0.0 << false;
}

void TestPlayer::firstFrameIsTheStart()
{
    QFETCH(double, start);
    QFETCH(bool, paused);
    VideoPlayer *player = makePlayer();
    QImage first;
    double firstPts = -1;
    connect(player, &VideoPlayer::frameDrawnChanged, this, [&] {
        if (player->frameDrawn() && first.isNull()) {
            first = player->frameImage().copy();
            firstPts = player->framePts();
        }
    });
    player->open(clipUrl(), start, paused);
    QTRY_VERIFY_WITH_TIMEOUT(!first.isNull(), 30000);
    QCOMPARE(player->errorText(), QString());
    QCOMPARE(first.size(), kClipSize);
    const int shown = frameNumber(first);
    const int expected = ffmpegFrameAt(m_clip, start);
    QVERIFY2(
        std::abs(shown - expected) <= 1, qPrintable(QStringLiteral("shown %1, FFmpeg's %2").arg(shown).arg(expected)));
    // The time it gives is that of the frame on the picture.
    QCOMPARE(int(std::lround(firstPts * kFps)), shown);
    QCOMPARE(player->paused(), paused);
}

void TestPlayer::frameStepsMoveOneFrame()
{
    VideoPlayer *player = makePlayer();
    player->open(clipUrl(), 30.0, true);
    QTRY_VERIFY_WITH_TIMEOUT(player->frameDrawn(), 30000);
    const int start = frameNumber(player->frameImage());
    QCOMPARE(start, 30 * kFps);
    // Forward three times, then back across the key frame at 30 s and one more.
    const QList<int> steps { 1, 1, 1, -1, -1, -1, -1 };
    int expected = start;
    for (const int step : steps) {
        expected += step;
        if (step > 0)
            player->frameStep();
        else
            player->frameBackStep();
        QTRY_COMPARE_WITH_TIMEOUT(frameNumber(player->frameImage()), expected, 10000);
        QTRY_COMPARE(int(std::lround(player->framePts() * kFps)), expected);
        QVERIFY(player->paused());
    }
    QCOMPARE(expected, start - 1);
}

void TestPlayer::stillIsTheFrameShown()
{
    const ScopedTimeZone zone("Europe/Warsaw");
    // Smaller than the clip: the still is at the clip's own resolution all the same.
    VideoPlayer *player = makePlayer(QSize(200, 150));
    player->setProperty("cameraId", "{5d1c3c4e-0000-4000-8000-00000000000a}");
    player->setProperty("cameraName", "Till 1 Overhead");
    player->setProperty("clipRequest",
        QStringLiteral("http://%1:%2@127.0.0.1:7001/hls/till1.mkv?pos=1762351110000&duration=180&hi=1")
            .arg(kUser, kPassword));
    const QDateTime clipStart(QDate(2025, 11, 5), QTime(14, 58, 30), Qt::OffsetFromUTC, 3600);
    player->setProperty("clipStart", clipStart);
    player->open(clipUrl(), 42.0, true);
    QTRY_VERIFY_WITH_TIMEOUT(player->frameDrawn(), 30000);
    QSignalSpy saved(player, &VideoPlayer::stillSaved);

    // The frame opened at, then the one a step later: each still is the frame shown, with its own time.
    for (const int frame : { 42 * kFps, 42 * kFps + 1 }) {
        if (frame != 42 * kFps) {
            player->frameStep();
            QTRY_COMPARE(int(std::lround(player->framePts() * kFps)), frame);
        }
        const QString base = m_dir.filePath(QStringLiteral("still of frame %1").arg(frame));
        saved.clear();
        player->saveStill(base, false, { { "receivedAt", "2025-11-05T13:59:14.000Z" }, { "text", "MILK\nBREAD" } });
        QVERIFY(saved.wait(20000));
        QCOMPARE(saved.at(0).at(1).toString(), QString());
        QCOMPARE(saved.at(0).at(0).toString(), base + ".png");
        const QImage still(base + ".png");
        QCOMPARE(still.size(), kClipSize);
        QCOMPARE(frameNumber(still), frame);

        const QJsonObject record = QJsonDocument::fromJson(readFile(base + ".json")).object();
        const QJsonObject time = record.value("frame").toObject();
        QCOMPARE(int(std::lround(time.value("secondsIntoClip").toDouble() * kFps)), frame);
        const QDateTime at = clipStart.addMSecs(qint64(frame) * 1000 / kFps);
        QCOMPARE(time.value("timeUtc").toString(), at.toUTC().toString(Qt::ISODateWithMs));
        QCOMPARE(time.value("timeLocal").toString(), at.toOffsetFromUtc(3600).toString(Qt::ISODateWithMs));
        QVERIFY(time.value("timeLocal").toString().endsWith("+01:00"));
        QCOMPARE(record.value("camera").toObject().value("name").toString(), QString("Till 1 Overhead"));
        QCOMPARE(record.value("receipt").toObject().value("text").toString(), QString("MILK\nBREAD"));
        QCOMPARE(record.value("program").toObject().value("version").toString(), QString(TILLMARK_VERSION));
        QCOMPARE(record.value("clipRequest").toString(),
            QString("http://127.0.0.1:7001/hls/till1.mkv?pos=1762351110000&duration=180&hi=1"));
        QVERIFY(!readFile(base + ".json").contains(kPassword.toUtf8()));

        QProcess check;
        check.setWorkingDirectory(m_dir.path());
        check.start("sha256sum", { "-c", QFileInfo(base + ".sha256").fileName() });
        QVERIFY(check.waitForFinished(30000));
        const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
        QVERIFY2(check.exitCode() == 0, said.constData());
        QCOMPARE(said.count(": OK\n"), 2);
    }
}

void TestPlayer::receiptsAreDrawnAsTheExportBurnsThem()
{
    const QDateTime windowStart(QDate(2025, 11, 5), QTime(13, 0), Qt::UTC);
    PosData receipt;
    receipt.content = QStringLiteral("A {PROMO} B\nTOTAL 12.50");
    receipt.createdAt = windowStart.addSecs(40);
    const QByteArray script = _convertToAss(windowStart, { receipt }).toUtf8();
    // Escaped as the export escapes it, so that the braces are drawn rather than read as an override.
    QVERIFY(script.contains("A \\{PROMO\\} B"));

    // The export's burn-in, and the same frame without it.
    const QString scriptFile = m_dir.filePath("burnt.ass");
    QVERIFY(writeFile(scriptFile, script));
    const QString burnt = m_dir.filePath("ffmpeg-burnt.png");
    const QString plain = m_dir.filePath("ffmpeg-plain.png");
    // The clip's own times, as the export's filter sees them.
    QVERIFY(runFfmpeg({ "-ss", "41", "-copyts", "-i", m_clip, "-vf", "ass=" + scriptFile, "-frames:v", "1", burnt }));
    QVERIFY(runFfmpeg({ "-ss", "41", "-copyts", "-i", m_clip, "-frames:v", "1", plain }));
    const QVector<bool> ffmpegText = textMask(QImage(burnt), QImage(plain));
    const int ffmpegCount = int(std::count(ffmpegText.begin(), ffmpegText.end(), true));
    QVERIFY2(ffmpegCount > 300, qPrintable(QString::number(ffmpegCount)));

    VideoPlayer *player = makePlayer();
    QVERIFY(player->setSubtitleFile(scriptFile));
    QCOMPARE(player->subtitleScript(), script);
    player->open(clipUrl(), 41.0, true);
    QTRY_VERIFY_WITH_TIMEOUT(player->frameDrawn(), 30000);
    QSignalSpy saved(player, &VideoPlayer::stillSaved);
    const QString withReceipts = m_dir.filePath("player-burnt");
    const QString without = m_dir.filePath("player-plain");
    player->saveStill(withReceipts, true);
    QVERIFY(saved.wait(20000));
    player->saveStill(without, false);
    QVERIFY(saved.wait(20000));
    const QImage playerPlain(without + ".png");

    // The same pixels carry text in the player's picture as in FFmpeg's: the same glyphs at the same place.
    const auto overlap = [&ffmpegText](const QVector<bool> &text) {
        int both = 0;
        int either = 0;
        for (int i = 0; i < text.size(); ++i) {
            both += text[i] && ffmpegText[i];
            either += text[i] || ffmpegText[i];
        }
        return either == 0 ? 0.0 : double(both) / either;
    };
    const double stillOverlap = overlap(textMask(QImage(withReceipts + ".png"), playerPlain));
    QVERIFY2(stillOverlap > 0.9, qPrintable(QString::number(stillOverlap)));
    const QImage onScreen = player->frameImage().convertToFormat(QImage::Format_RGB32);
    const double screenOverlap = overlap(textMask(onScreen, playerPlain));
    QVERIFY2(screenOverlap > 0.9, qPrintable(QString::number(screenOverlap)));

    // Another script while open takes the place of the first.
    player->setSubtitleScript(_convertToAss(windowStart.addSecs(-30), { receipt }).toUtf8());
    QTRY_VERIFY(!textMask(player->frameImage().convertToFormat(QImage::Format_RGB32), playerPlain).contains(true));
    player->setSubtitleScript(script);
    QTRY_VERIFY(overlap(textMask(player->frameImage().convertToFormat(QImage::Format_RGB32), playerPlain)) > 0.9);

    // Switched off, the picture is the plain frame.
    player->setSubtitlesVisible(false);
    QTRY_VERIFY(!textMask(player->frameImage().convertToFormat(QImage::Format_RGB32), playerPlain).contains(true));
    player->setSubtitlesVisible(true);
    QTRY_VERIFY(overlap(textMask(player->frameImage().convertToFormat(QImage::Format_RGB32), playerPlain)) > 0.9);
}

void TestPlayer::noAccountReachesMpv()
{
    VideoPlayer *player = makePlayer();
    player->setSubtitleScript(_convertToAss(QDateTime::currentDateTimeUtc(), {}).toUtf8());
    // Even a URL that carries the account: the player hands mpv its own stream, never the address.
    player->open(QStringLiteral("http://%1:%2@%3/hls/clip.mkv?pos=1&duration=120&hi=1")
                     .arg(kUser, kPassword, m_server.hostPort()),
        10.0, false);
    QTRY_VERIFY_WITH_TIMEOUT(player->frameDrawn(), 30000);
    player->seekRelative(5);
    player->setPaused(true);
    QSignalSpy saved(player, &VideoPlayer::stillSaved);
    player->saveStill(m_dir.filePath("account-check"), true);
    QVERIFY(saved.wait(20000));
    QVERIFY(m_server.requests().back().authorization.rfind("Digest ", 0) == 0);

    const QString handed = player->handedToMpv().join('\n');
    QVERIFY(handed.contains("command loadfile tillmark://clip/"));
    QVERIFY(handed.contains("option sub-files=tillmark://receipts/"));
    QVERIFY(handed.contains("command screenshot-to-file"));
    for (const QString &secret : { kPassword, kUser, m_server.hostPort(), QStringLiteral("/hls/") })
        QVERIFY2(!handed.contains(secret, Qt::CaseInsensitive), qPrintable(secret + " in:\n" + handed));
}

void TestPlayer::failedTransferSaysWhy_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("silent from the start") << QByteArray("/hls/silent.mkv") << "did not answer in time";
    QTest::newRow("stalls after the first seconds") << QByteArray("/hls/stalls.mkv") << "did not answer in time";
    QTest::newRow("refuses") << QByteArray("/hls/refused.mkv") << "Not Found";
}

void TestPlayer::failedTransferSaysWhy()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, expected);
    TestServer::Reply silent;
    silent.stall = true;
    m_server.route("/hls/silent.mkv", silent);
    TestServer::Reply stalls;
    stalls.body = m_clipBytes;
    stalls.stallAfter = m_clipBytes.size() / 3;
    m_server.route("/hls/stalls.mkv", stalls);
    TestServer::Reply refused;
    refused.status = 404;
    refused.body = "no such camera";
    m_server.route("/hls/refused.mkv", refused);
    Request::setTransferTimeoutMs(800);

    VideoPlayer *player = makePlayer();
    player->open(clipUrl(QString::fromLatin1(path)), 0, false);
    // The window goes on: its event loop turns while mpv waits for bytes that do not come.
    QTimer tick;
    QSignalSpy ticked(&tick, &QTimer::timeout);
    tick.start(100);
    QVERIFY(ticked.wait(5000));
    QTRY_VERIFY_WITH_TIMEOUT(!player->errorText().isEmpty(), 20000);
    QVERIFY2(player->errorText().contains(expected), qPrintable(player->errorText()));
}

void TestPlayer::closingCancelsTheTransfer()
{
    // The head of the clip, some twenty seconds, and then nothing: playback starts on what has arrived.
    HoldingServer holding(m_clipBytes, m_clipBytes.size() / 5);
    QSignalSpy left(&holding, &HoldingServer::clientLeft);
    VideoPlayer *player = makePlayer();
    player->open(holding.url(), 1.0, true);
    QTRY_VERIFY2_WITH_TIMEOUT(player->frameDrawn(), qPrintable(player->errorText()), 30000);
    QCOMPARE(frameNumber(player->frameImage()), kFps);
    const QStringList clipFiles { QStringLiteral("tillmark-clip-*") };
    QCOMPARE(QDir(m_dir.path()).entryList(clipFiles, QDir::Files).size(), 1);

    player->close();
    QVERIFY(left.count() == 1 || left.wait(10000));
    QCOMPARE(QDir(m_dir.path()).entryList(clipFiles, QDir::Files), QStringList());
    QVERIFY(!player->isOpen());
    QVERIFY(!player->frameDrawn());
    QVERIFY(player->frameImage().isNull());
    QCOMPARE(player->errorText(), QString());
}

void TestPlayer::secondOpenReplacesTheFirst()
{
    HoldingServer holding(m_clipBytes, m_clipBytes.size() / 5);
    QSignalSpy left(&holding, &HoldingServer::clientLeft);
    VideoPlayer *player = makePlayer();
    player->open(holding.url(), 0, false);
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > 0.2, 30000);

    // Opened again while the first clip plays and its transfer waits: from then on only the second's
    // frames are drawn, and the first transfer's end is no error of the second.
    player->open(clipUrl(), 60.0, true);
    QList<int> shown;
    connect(player, &VideoPlayer::frameShown, this, [&] { shown << frameNumber(player->frameImage()); });
    QVERIFY(left.count() == 1 || left.wait(10000));
    QTRY_VERIFY_WITH_TIMEOUT(player->frameDrawn(), 30000);
    QVERIFY(!shown.isEmpty());
    for (const int frame : qAsConst(shown))
        QVERIFY2(frame == -1 || frame >= 60 * kFps - 1, qPrintable(QString::number(frame)));
    QCOMPARE(frameNumber(player->frameImage()), 60 * kFps);
    QCOMPARE(player->errorText(), QString());
}

void TestPlayer::completedClipIsKeptWithItsDigest()
{
    VideoPlayer *player = makePlayer();
    QSignalSpy completed(player, &VideoPlayer::clipCompleted);
    player->open(clipUrl(), 5.0, true);
    QVERIFY(completed.wait(30000));
    const QString path = player->clipPath();
    QCOMPARE(readFile(path), m_clipBytes);
    QCOMPARE(player->clipSha256(), QString(QCryptographicHash::hash(m_clipBytes, QCryptographicHash::Sha256).toHex()));

    // Closed, the whole clip stays for an export of the same window; a new open starts afresh.
    player->close();
    QCOMPARE(player->clipPath(), path);
    QVERIFY(QFile::exists(path));
    player->open(clipUrl(), 7.0, true);
    QVERIFY(!QFile::exists(path));
    QTRY_VERIFY_WITH_TIMEOUT(player->frameDrawn(), 30000);
    QCOMPARE(frameNumber(player->frameImage()), 7 * kFps);
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 2, 30000);
    const QString second = player->clipPath();
    QVERIFY(QFile::exists(second));
    delete player;
    QVERIFY(!QFile::exists(second));
}

void TestPlayer::receiptsFollowPlayback()
{
    const QDateTime clipStart(QDate(2025, 11, 5), QTime(14, 0), Qt::UTC);
    PlayerReceipts receipts;
    QAbstractItemModelTester tester(&receipts, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const auto at = [&clipStart](double seconds, const QString &text) {
        PosData record;
        record.content = text;
        record.createdAt = clipStart.addMSecs(qint64(seconds * 1000));
        return record;
    };
    // Out of order, as a caller may have them.
    receipts.setReceipts({ at(8, "THIRD"), at(3, "FIRST"), at(5, "SECOND") }, clipStart);
    QCOMPARE(receipts.get(0).value("content").toString(), QString("FIRST"));
    QCOMPARE(receipts.get(2).value("content").toString(), QString("THIRD"));

    VideoPlayer *player = makePlayer();
    connect(player, &VideoPlayer::frameShown, &receipts, [&] { receipts.setPosition(player->framePts()); });
    player->setSpeed(2);
    player->open(clipUrl(), 2.0, false);
    QTRY_VERIFY_WITH_TIMEOUT(player->frameDrawn(), 30000);
    QCOMPARE(receipts.current(), -1);
    // Played past each receipt in turn.
    QTRY_COMPARE_WITH_TIMEOUT(receipts.current(), 0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(receipts.current(), 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(receipts.current(), 2, 10000);
    player->setPaused(true);
    // Seeks: back before all, between two, exactly onto one.
    const QList<QPair<double, int>> seeks { { 0.0, -1 }, { 4.0, 0 }, { 8.0, 2 }, { 6.0, 1 } };
    for (const auto &seek : seeks) {
        player->seek(seek.first);
        QTRY_COMPARE(int(std::lround(player->framePts() * kFps)), int(seek.first * kFps));
        QCOMPARE(receipts.current(), seek.second);
    }
}

void TestPlayer::paneWorksFromTheKeyboard()
{
    QQuickView view;
    view.resize(1100, 620);
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.setSource(QUrl("qrc:/ReviewPlayer.qml"));
    QCOMPARE(view.status(), QQuickView::Ready);
    QQuickItem *pane = view.rootObject();
    auto *video = pane->findChild<VideoPlayer *>("video");
    auto *receipts = qvariant_cast<PlayerReceipts *>(pane->property("receipts"));
    QVERIFY(video && receipts);
    video->setClient(&m_client);
    video->setClipDirectory(m_dir.path());
    const QDateTime clipStart(QDate(2025, 11, 5), QTime(14, 58, 30), Qt::OffsetFromUTC, 3600);
    QList<PosData> records;
    for (const int seconds : { 20, 35, 50 }) {
        PosData record;
        record.content = QStringLiteral("RECEIPT AT %1 S\nTOTAL").arg(seconds);
        record.createdAt = clipStart.addSecs(seconds);
        records << record;
    }
    receipts->setReceipts(records, clipStart);
    // One start for the time under the picture and a still's.
    QCOMPARE(video->property("clipStart").toDateTime().toMSecsSinceEpoch(), clipStart.toMSecsSinceEpoch());
    view.show();
    view.requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(&view));

    QSignalSpy stillAsked(pane, SIGNAL(saveStillRequested(bool, QVariant)));
    QSignalSpy exportAsked(pane, SIGNAL(exportRequested()));
    QSignalSpy closeAsked(pane, SIGNAL(closeRequested()));
    QMetaObject::invokeMethod(pane, "openClip", Q_ARG(QVariant, clipUrl()), Q_ARG(QVariant, 18.0));
    QTRY_VERIFY_WITH_TIMEOUT(video->frameDrawn(), 30000);
    QVERIFY(!video->paused());
    // The keys go to the pane's receipts list, whatever had them before.
    QVERIFY(pane->findChild<QQuickItem *>("lstPlayerReceipts")->hasActiveFocus());
    const auto rows = [pane] {
        // The list's rows are its items' children, not its objects'.
        QList<QQuickItem *> found;
        std::function<void(QQuickItem *)> walk = [&](QQuickItem *item) {
            if (item->objectName() == "receiptRow" && item->isVisible())
                found << item;
            for (QQuickItem *child : item->childItems())
                walk(child);
        };
        walk(pane);
        std::sort(found.begin(), found.end(), [](QQuickItem *a, QQuickItem *b) { return a->y() < b->y(); });
        return found;
    };
    QTRY_COMPARE(rows().size(), 3);
    // Played past the first receipt: it is highlighted.
    QTRY_COMPARE_WITH_TIMEOUT(receipts->current(), 0, 10000);
    QTRY_VERIFY(rows().at(0)->property("highlighted").toBool());
    QVERIFY(!rows().at(1)->property("highlighted").toBool());

    const auto press = [&view](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&view, Qt::Key(key), modifiers);
    };
    const auto at = [video](double seconds) { return std::abs(video->framePts() - seconds) < 0.5 / kFps; };
    press(Qt::Key_Space);
    QTRY_VERIFY(video->paused());
    press(Qt::Key_PageDown); // 2 s before the second receipt
    QTRY_VERIFY(at(33));
    QCOMPARE(receipts->current(), 0);
    press(Qt::Key_Right);
    QTRY_VERIFY(at(38));
    QCOMPARE(receipts->current(), 1);
    QTRY_VERIFY(rows().at(1)->property("highlighted").toBool());
    press(Qt::Key_Left, Qt::ShiftModifier);
    QTRY_VERIFY(at(37));
    press(Qt::Key_Period);
    QTRY_VERIFY(at(37 + 1.0 / kFps));
    press(Qt::Key_Comma);
    QTRY_VERIFY(at(37));
    QCOMPARE(
        pane->findChild<QQuickItem *>("lblWallTime")->property("text").toString(), QString("2025-11-05 14:59:07.0"));
    press(Qt::Key_BracketRight);
    QTRY_COMPARE(video->speed(), 1.5);
    press(Qt::Key_BracketLeft);
    press(Qt::Key_BracketLeft);
    QTRY_COMPARE(video->speed(), 0.75);
    QVERIFY(pane->findChild<QQuickItem *>("lblSpeed")->property("text").toString().contains("0.75"));
    press(Qt::Key_PageUp); // back to 2 s before the receipt just passed, then to the one before it
    QTRY_VERIFY(at(33));
    QCOMPARE(receipts->current(), 0);
    press(Qt::Key_PageUp);
    QTRY_VERIFY(at(18));
    QCOMPARE(receipts->current(), -1);
    press(Qt::Key_End);
    QTRY_COMPARE(receipts->current(), 2);
    press(Qt::Key_Home);
    QTRY_VERIFY(at(0));
    QCOMPARE(receipts->current(), -1);

    // A click on a receipt, and Return on one chosen with the arrows, go to 2 s before it.
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier,
        rows().at(2)->mapToScene(QPointF(20, rows().at(2)->height() / 2)).toPoint());
    QTRY_VERIFY(at(48));
    QCOMPARE(receipts->current(), 1);
    press(Qt::Key_Up);
    press(Qt::Key_Up);
    press(Qt::Key_Return);
    QTRY_VERIFY(at(18));

    auto *toggle = pane->findChild<QQuickItem *>("chkReceiptsOnPicture");
    QVERIFY(toggle->property("checked").toBool());
    QVERIFY(video->subtitlesVisible());
    QTest::mouseClick(
        &view, Qt::LeftButton, Qt::NoModifier, toggle->mapToScene(QPointF(10, toggle->height() / 2)).toPoint());
    QTRY_VERIFY(!video->subtitlesVisible());

    // Every button says what it does, with its key.
    int buttons = 0;
    for (QQuickItem *item : pane->findChildren<QQuickItem *>()) {
        if (!item->objectName().startsWith("btn"))
            continue;
        ++buttons;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(item);
        QVERIFY(accessible);
        QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(), qPrintable(item->objectName()));
        if (item->objectName() == "btnSaveStill" || item->objectName() == "btnExportThis") {
            QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, item->mapToScene(QPointF(5, 5)).toPoint());
        }
    }
    QCOMPARE(buttons, 15);
    QTRY_COMPARE(stillAsked.count(), 1);
    QCOMPARE(stillAsked.at(0).at(0).toBool(), false);
    QCOMPARE(exportAsked.count(), 1);

    press(Qt::Key_Escape);
    QCOMPARE(closeAsked.count(), 1);
    QVERIFY(!video->isOpen());
}

QTEST_MAIN(TestPlayer)
#include "tst_player.moc"
