#include "app/startup.h"
#include "core/appstate.h"
#include "net/request.h"
#include "player/playerreceipts.h"
#include "player/videoplayer.h"
#include "pos/posdownloader.h"
#include "testserver.h"
#include "testutil.h"

#include <QAccessible>
#include <QAuthenticator>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
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

/// A server that sends the head of a clip, announcing all of it, and then holds the connection open
/// without a further byte; it tells when the client lets go.
class HoldingServer : public QObject
{
    Q_OBJECT
public:
    HoldingServer(const QByteArray &clip, int sent)
        : m_clip(clip)
        , m_sent(sent)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::disconnected, this, &HoldingServer::clientLeft);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                m_request += socket->readAll();
                if (!m_request.contains("\r\n\r\n") || m_answered)
                    return;
                m_answered = true;
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: video/x-matroska\r\nContent-Length: "
                    + QByteArray::number(m_clip.size()) + "\r\n\r\n" + m_clip.left(m_sent));
            });
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/hls/held.mkv").arg(m_server.serverPort()); }

signals:
    void clientLeft();

private:
    QTcpServer m_server;
    QByteArray m_clip;
    QByteArray m_request;
    int m_sent = 0;
    bool m_answered = false;
};

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
    QNetworkAccessManager m_network;
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
    connect(&m_network, &QNetworkAccessManager::authenticationRequired, this,
        [](QNetworkReply *, QAuthenticator *authenticator) {
            authenticator->setUser(kUser);
            authenticator->setPassword(kPassword);
        });
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
    player->setNetwork(&m_network);
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

void TestPlayer::stillIsTheFrameShown() { }

void TestPlayer::receiptsAreDrawnAsTheExportBurnsThem() { }

void TestPlayer::noAccountReachesMpv() { }

void TestPlayer::failedTransferSaysWhy_data() { }

void TestPlayer::failedTransferSaysWhy() { }

void TestPlayer::closingCancelsTheTransfer() { }

void TestPlayer::secondOpenReplacesTheFirst() { }

void TestPlayer::completedClipIsKeptWithItsDigest() { }

void TestPlayer::receiptsFollowPlayback() { }

void TestPlayer::paneWorksFromTheKeyboard() { }

QTEST_MAIN(TestPlayer)
#include "tst_player.moc"
