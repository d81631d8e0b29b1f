#include "simdata.h"
#include "simprocess.h"
#include "testcerts.h"
#include "tlscert.h"

#include <QAuthenticator>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

constexpr qint64 Minute = 60 * 1000;
constexpr qint64 Hour = 60 * Minute;
const char *const User = "admin";
const char *const Password = "Pelmo4826";

/// The site every shared-server test talks to; the tests build the same one to know what it holds.
const QStringList siteArguments { "--seed", "11", "--days", "3", "--now", "2026-12-07T10:00:00.000Z", "--tz-offset-ms",
    "3600000" };

simdata::Site expectedSite()
{
    simdata::Config config;
    config.seed = 11;
    config.days = 3;
    config.nowMs
        = QDateTime::fromString(QStringLiteral("2026-12-07T10:00:00.000Z"), Qt::ISODateWithMs).toMSecsSinceEpoch();
    config.tzOffsetMs = Hour;
    return simdata::Site::generate(config);
}

struct HttpResult {
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QMap<QByteArray, QByteArray> headers; ///< lower-case names
    int challenges = 0;
    qint64 elapsedMs = 0;
    bool finished = false;
    QList<QSslError> sslErrors;
    QSslCertificate peer;
};

/// One GET on a fresh manager (no cached credentials), answering challenges when given credentials
/// and trusting, besides the system's, the certificate authorities given.
/// The URL text is read the way the program reads its own URLs (tolerant mode).
HttpResult get(const QString &url, const QString &user = {}, const QString &password = {}, int timeoutMs = 60000,
    const QList<QSslCertificate> &authorities = {})
{
    QNetworkAccessManager manager;
    HttpResult result;
    QObject::connect(
        &manager, &QNetworkAccessManager::authenticationRequired, [&](QNetworkReply *, QAuthenticator *authenticator) {
            ++result.challenges;
            if (!user.isEmpty()) {
                authenticator->setUser(user);
                authenticator->setPassword(password);
            }
        });
    QElapsedTimer timer;
    timer.start();
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    if (!authorities.isEmpty()) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(configuration.caCertificates() + authorities);
        request.setSslConfiguration(configuration);
    }
    QNetworkReply *reply = manager.get(request);
    QObject::connect(reply, &QNetworkReply::sslErrors, [&](const QList<QSslError> &errors) {
        result.sslErrors = errors;
        result.peer = reply->sslConfiguration().peerCertificate();
    });
    QObject::connect(
        reply, &QNetworkReply::encrypted, [&] { result.peer = reply->sslConfiguration().peerCertificate(); });
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::readyRead, [&] { result.body += reply->readAll(); });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    result.finished = reply->isFinished();
    result.body += reply->readAll();
    result.error = reply->error();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    for (const auto &header : reply->rawHeaderPairs())
        result.headers.insert(header.first.toLower(), header.second);
    result.elapsedMs = timer.elapsed();
    reply->abort();
    delete reply;
    return result;
}

QByteArray basicAuthorization()
{
    return "Authorization: Basic " + QByteArray(User).append(':').append(Password).toBase64() + "\r\n";
}

struct Dechunked {
    QByteArray bytes;
    bool complete = false; ///< the closing zero-length chunk came
};

/// The data of a chunked body, as far as it goes.
Dechunked dechunk(const QByteArray &body)
{
    Dechunked out;
    int at = 0;
    for (;;) {
        const int lineEnd = body.indexOf("\r\n", at);
        if (lineEnd < 0)
            return out;
        bool ok = false;
        const int size = body.mid(at, lineEnd - at).toInt(&ok, 16);
        if (!ok)
            return out;
        if (size == 0) {
            out.complete = true;
            return out;
        }
        out.bytes += body.mid(lineEnd + 2, size);
        if (body.size() < lineEnd + 2 + size + 2)
            return out;
        at = lineEnd + 2 + size + 2;
    }
}

/// True once the answer holds a whole response: the length it announced, or the closing chunk.
bool wholeResponse(const QByteArray &answer)
{
    const int headerEnd = answer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return false;
    const QByteArray head = answer.left(headerEnd).toLower();
    const QByteArray body = answer.mid(headerEnd + 4);
    static const QRegularExpression length(QStringLiteral("\r\ncontent-length: *(\\d+)"));
    const QRegularExpressionMatch match = length.match(QString::fromLatin1(head));
    if (match.hasMatch())
        return body.size() >= match.captured(1).toLongLong();
    return head.contains("transfer-encoding: chunked") && dechunk(body).complete;
}

/// Sends bytes as they are, for requests that no well-behaved client would send, and returns the answer:
/// one whole response, or what came before the server closed the connection.
QByteArray rawRequest(int port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    QByteArray answer;
    while (!wholeResponse(answer) && socket.waitForReadyRead(10000))
        answer += socket.readAll();
    return answer + socket.readAll();
}

QJsonObject jsonObject(const QByteArray &body)
{
    return QJsonDocument::fromJson(body).object();
}

/// The child processes (FFmpeg renderers) the simulator has right now.
QStringList childrenOf(qint64 pid)
{
    QStringList children;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks + QLatin1Char('/') + task + QStringLiteral("/children"));
        if (file.open(QIODevice::ReadOnly))
            children += QString::fromLatin1(file.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    return children;
}

struct Probe {
    QString formatName;
    double duration = 0;
    int width = 0;
    int height = 0;
    QString frameRate;
    int frames = 0;
};

Probe probe(const QString &file)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
        { "-v", "error", "-count_frames", "-show_entries",
            "format=format_name,duration:stream=width,height,r_frame_rate,nb_read_frames", "-of", "json", file });
    ffprobe.waitForFinished(60000);
    const QJsonObject all = jsonObject(ffprobe.readAllStandardOutput());
    const QJsonObject format = all.value(QStringLiteral("format")).toObject();
    const QJsonObject stream = all.value(QStringLiteral("streams")).toArray().at(0).toObject();
    return { format.value(QStringLiteral("format_name")).toString(),
        format.value(QStringLiteral("duration")).toString().toDouble(), stream.value(QStringLiteral("width")).toInt(),
        stream.value(QStringLiteral("height")).toInt(), stream.value(QStringLiteral("r_frame_rate")).toString(),
        stream.value(QStringLiteral("nb_read_frames")).toString().toInt() };
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char &b : bytes)
        b = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void authentication_data();
    void authentication();
    void nonAsciiPassword_data();
    void nonAsciiPassword();
    void tlsOwnCertificate();
    void tlsGivenCertificate();
    void serverTimeAndCameras();
    void recordedPeriods_data();
    void recordedPeriods();
    void recordedPeriodsRefusals_data();
    void recordedPeriodsRefusals();
    void idsWithAndWithoutEscapes();

    void posSearch_data();
    void posSearch();
    void posWindow();
    void posMalformedDates_data();
    void posMalformedDates();
    void receiptsFile();

    void clip_data();
    void clip();
    void clipThroughFfmpeg();
    void clipRefusals_data();
    void clipRefusals();
    void clipFromFile();
    void cutClip_data();
    void cutClip();
    void clientGoneEndsRenderer();

    void failOption();
    void delayOptions();
    void stallUntilShutdown();
    void endsWithItsInput();
    void malformedRequests_data();
    void malformedRequests();
    void startupErrors_data();
    void startupErrors();

private:
    QString vms(const QString &pathAndQuery) const { return m_sim.vmsBase() + pathAndQuery; }
    QString pos(const QString &pathAndQuery) const { return m_sim.posBase() + pathAndQuery; }
    QJsonArray periodsOf(const QString &query);

    SimProcess m_sim; ///< Digest with the default account
    simdata::Site m_site = expectedSite();
    QTemporaryDir m_dir;
    TestCertificates m_certs;
};

void TestSim::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty(), "FFmpeg renders the clips");
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty(), "ffprobe checks the clips");
    QVERIFY(m_dir.isValid());
    QVERIFY2(m_certs.isValid(), qPrintable(m_certs.error()));
    QVERIFY(m_sim.start(siteArguments));
}

void TestSim::cleanupTestCase()
{
    QVERIFY(m_sim.stop());
}

void TestSim::authentication_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("challenge");
    QTest::newRow("digest by default") << QStringList() << QByteArray("WWW-Authenticate: Digest realm=");
    QTest::newRow("basic") << QStringList { "--auth", "basic" }
                           << QByteArray("WWW-Authenticate: Basic realm=\"Tillmark\", charset=\"UTF-8\"");
    QTest::newRow("another account") << QStringList { "--user", "Kassierer", "--password", "Zoellner & Co:1%" }
                                     << QByteArray("qop=\"auth\"");
}

void TestSim::authentication()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, challenge);
    SimProcess sim;
    QVERIFY(sim.start(arguments + QStringList { "--days", "1" }));
    const int userAt = arguments.indexOf(QStringLiteral("--user"));
    const QString user = userAt >= 0 ? arguments.at(userAt + 1) : QString::fromLatin1(User);
    const QString password = userAt >= 0 ? arguments.at(userAt + 3) : QString::fromLatin1(Password);

    // Every video server path asks, known or not.
    for (const char *path : { "/api/statistics", "/api/getTime", "/ec2/getCamerasEx",
             "/ec2/recordedTimePeriods?cameraId=x", "/hls/x.mkv?pos=0&duration=1", "/nowhere" }) {
        const QByteArray answer = rawRequest(
            sim.vmsPort(), "GET " + QByteArray(path) + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        QVERIFY2(answer.startsWith("HTTP/1.1 401"), path);
        QVERIFY2(answer.contains(challenge), answer.constData());
    }

    const HttpResult accepted = get(sim.vmsBase() + "/api/statistics", user, password);
    QCOMPARE(accepted.status, 200);
    QCOMPARE(accepted.challenges, 1);
    QCOMPARE(jsonObject(accepted.body).value(QStringLiteral("error")).toString(), QStringLiteral("0"));

    // Rejected credentials are challenged again, which the network layer reports as refused authentication.
    const HttpResult rejected = get(sim.vmsBase() + "/api/statistics", user, password + "x");
    QCOMPARE(rejected.error, QNetworkReply::AuthenticationRequiredError);
    QCOMPARE(rejected.status, 401);
    QVERIFY(rejected.challenges >= 1);
    const HttpResult wrongUser = get(sim.vmsBase() + "/api/statistics", user + "x", password);
    QCOMPARE(wrongUser.error, QNetworkReply::AuthenticationRequiredError);

    // The POS server asks for nothing.
    const HttpResult pos = get(sim.posBase() + "/poses/?text__icontains=zzzz");
    QCOMPARE(pos.status, 200);
    QCOMPARE(pos.challenges, 0);
    QVERIFY(sim.stop());
}

void TestSim::nonAsciiPassword_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::newRow("digest") << "digest";
    QTest::newRow("basic") << "basic";
}

void TestSim::nonAsciiPassword()
{
    QFETCH(QString, scheme);
    const QString curlProgram = QStandardPaths::findExecutable(QStringLiteral("curl"));
    QVERIFY2(!curlProgram.isEmpty(), "curl is the independent client here");
    const QString password = QString::fromUtf8("P\xc3\xa4ssw\xc3\xb6rd1");
    SimProcess sim;
    QVERIFY(sim.start({ "--days", "1", "--auth", scheme, "--password", password }));
    // curl sends the UTF-8 bytes of its arguments, as RFC 7616 and 7617 (with charset="UTF-8") want.
    auto statusWith = [&](const QString &tried) {
        QProcess curl;
        curl.start(curlProgram,
            { "-sS", "-o", "/dev/null", "-w", "%{http_code}", "--" + scheme, "--user", "admin:" + tried,
                sim.vmsBase() + "/api/statistics" });
        curl.waitForFinished(30000);
        return curl.readAllStandardOutput();
    };
    QCOMPARE(statusWith(password), QByteArray("200"));
    QCOMPARE(statusWith(QString::fromUtf8("P\xc3\xa4ssw\xc3\xb6rd2")), QByteArray("401"));
    QCOMPARE(statusWith(QStringLiteral("Passwrd1")), QByteArray("401"));
    QVERIFY(sim.stop());
}

void TestSim::tlsOwnCertificate()
{
    QTemporaryDir data;
    QVERIFY(data.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
    const QString kept = data.filePath(QStringLiteral("tillmark-sim/tls.pem"));
    auto keptFingerprint = [&] {
        QFile file(kept);
        return file.open(QIODevice::ReadOnly)
            ? QString::fromStdString(tlscert::fingerprint(file.readAll().toStdString()))
            : QString();
    };

    QString first;
    for (int start = 0; start < 2; ++start) {
        SimProcess sim;
        sim.process().setProcessEnvironment(environment);
        QVERIFY(sim.startTls({ "--days", "1" }));
        QVERIFY(sim.vmsBase().startsWith(QLatin1String("https://127.0.0.1:")));
        QVERIFY(!sim.certificateFingerprint().isEmpty());
        QCOMPARE(sim.certificateFingerprint(), keptFingerprint());
        // Kept, so that a certificate pinned against it stays good after a restart.
        if (start == 0)
            first = sim.certificateFingerprint();
        QCOMPARE(sim.certificateFingerprint(), first);
        QCOMPARE(QFile::permissions(kept) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());

        // Trusted, it serves both names the program may be given, on both ports.
        const QList<QSslCertificate> own = QSslCertificate::fromPath(kept);
        QCOMPARE(own.size(), 1);
        for (const QString &host : { QStringLiteral("127.0.0.1"), QStringLiteral("localhost") }) {
            const HttpResult vms = get(QStringLiteral("https://%1:%2/api/statistics").arg(host).arg(sim.vmsPort()),
                User, Password, 60000, own);
            QVERIFY2(vms.sslErrors.isEmpty(), qPrintable(host + ": " + vms.sslErrors.value(0).errorString()));
            QCOMPARE(vms.status, 200);
            QCOMPARE(QString::fromLatin1(vms.peer.digest(QCryptographicHash::Sha256).toHex(':').toUpper()), first);
            const HttpResult pos
                = get(QStringLiteral("https://%1:%2/poses/?text__icontains=zzzz").arg(host).arg(sim.posPort()), {}, {},
                    60000, own);
            QVERIFY(pos.sslErrors.isEmpty());
            QCOMPARE(pos.status, 200);
        }
        // Not trusted, it is merely self-signed: nothing else is wrong with it.
        const HttpResult untrusted = get(sim.vmsBase() + "/api/statistics", User, Password);
        QCOMPARE(untrusted.sslErrors.size(), 1);
        QCOMPARE(untrusted.sslErrors.first().error(), QSslError::SelfSignedCertificate);
        QCOMPARE(untrusted.error, QNetworkReply::SslHandshakeFailedError);
        QVERIFY(sim.stop());
    }

    // One that has run out, or that cannot be read, is replaced.
    for (const QByteArray &stale : { m_certs.expired.certificate + m_certs.expired.key, QByteArray("garbage") }) {
        QFile file(kept);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(stale);
        file.close();
        SimProcess sim;
        sim.process().setProcessEnvironment(environment);
        QVERIFY(sim.startTls({ "--days", "1" }));
        QVERIFY(!sim.certificateFingerprint().isEmpty());
        QCOMPARE(sim.certificateFingerprint(), keptFingerprint());
        QVERIFY(sim.certificateFingerprint() != QString::fromStdString(tlscert::fingerprint(stale.toStdString())));
        QVERIFY(sim.stop());
        QVERIFY(sim.process().readAllStandardError().contains("made a new one"));
    }
}

void TestSim::tlsGivenCertificate()
{
    SimProcess sim;
    QVERIFY(sim.startTls({ "--days", "1", "--cert", m_certs.issued.certificateFile, "--key", m_certs.issued.keyFile,
        "--auth", "basic" }));
    QCOMPARE(sim.certificateFingerprint(),
        QString::fromStdString(tlscert::fingerprint(m_certs.issued.certificate.toStdString())));
    const HttpResult vms
        = get(sim.vmsBase() + "/api/statistics", User, Password, 60000, { m_certs.authority.sslCertificate() });
    QVERIFY(vms.sslErrors.isEmpty());
    QCOMPARE(vms.status, 200);
    QCOMPARE(vms.challenges, 1);
    const HttpResult pos
        = get(sim.posBase() + "/poses/?text__icontains=zzzz", {}, {}, 60000, { m_certs.authority.sslCertificate() });
    QVERIFY(pos.sslErrors.isEmpty());
    QCOMPARE(pos.status, 200);
    QVERIFY(sim.stop());
}

void TestSim::serverTimeAndCameras()
{
    const HttpResult time = get(vms("/api/getTime"), User, Password);
    QCOMPARE(time.status, 200);
    const QJsonObject object = jsonObject(time.body);
    QCOMPARE(object.value(QStringLiteral("error")).toString(), QStringLiteral("0"));
    const QJsonObject reply = object.value(QStringLiteral("reply")).toObject();
    QCOMPARE(reply.value(QStringLiteral("timeZoneOffset")).toString(), QStringLiteral("3600000"));
    for (const QJsonValue &value : reply)
        QVERIFY(value.isString()); // numbers as decimal strings, as the real server writes them
    // The site's clock starts at --now and runs on.
    const qint64 utcTime = reply.value(QStringLiteral("utcTime")).toString().toLongLong();
    QVERIFY(utcTime >= m_site.config().nowMs && utcTime < m_site.config().nowMs + 30 * Minute);

    const HttpResult cameras = get(vms("/ec2/getCamerasEx"), User, Password);
    QCOMPARE(cameras.status, 200);
    const QJsonArray array = QJsonDocument::fromJson(cameras.body).array();
    QCOMPARE(array.size(), m_site.cameras().size());
    for (int i = 0; i < array.size(); ++i) {
        const QJsonObject camera = array.at(i).toObject();
        QCOMPARE(camera.value(QStringLiteral("id")).toString(), m_site.cameras().at(i).id);
        QCOMPARE(camera.value(QStringLiteral("name")).toString(), m_site.cameras().at(i).name);
        QVERIFY(camera.size() > 5);
    }
}

QJsonArray TestSim::periodsOf(const QString &query)
{
    const HttpResult result = get(vms("/ec2/recordedTimePeriods?" + query), User, Password);
    const QJsonObject object = jsonObject(result.body);
    if (result.status != 200 || object.value(QStringLiteral("error")).toString() != QLatin1String("0"))
        return {};
    return object.value(QStringLiteral("reply")).toArray().at(0).toObject().value(QStringLiteral("periods")).toArray();
}

void TestSim::recordedPeriods_data()
{
    QTest::addColumn<int>("camera");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<bool>("desc");
    const qint64 now = expectedSite().config().nowMs;
    const qint64 today = now - 11 * Hour; // local midnight at UTC+1
    QTest::newRow("yesterday, newest first") << 1 << today - 24 * Hour << today - 1 << true;
    QTest::newRow("yesterday, oldest first") << 1 << today - 24 * Hour << today - 1 << false;
    QTest::newRow("today, with the running period") << 0 << today << today + 24 * Hour - 1 << true;
    QTest::newRow("the car park, two days") << 4 << today - 24 * Hour << today + 24 * Hour - 1 << true;
    QTest::newRow("before the archive") << 2 << now - 30 * 24 * Hour << now - 20 * 24 * Hour << true;
    QTest::newRow("one millisecond") << 3 << today - 12 * Hour << today - 12 * Hour << true;
}

void TestSim::recordedPeriods()
{
    QFETCH(int, camera);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(bool, desc);
    const QString id = m_site.cameras().at(camera).id;
    const QJsonArray periods = periodsOf(
        QStringLiteral("cameraId=%1&startTime=%2&endTime=%3&desc=%4").arg(id).arg(from).arg(to).arg(desc ? 1 : 0));

    // Every archived period that shares a millisecond with the window, and no other.
    QVector<qint64> expected;
    for (const simdata::Period &p : m_site.periods(camera)) {
        const qint64 end = p.durationMs < 0 ? std::numeric_limits<qint64>::max() : p.startMs + p.durationMs;
        if (p.startMs <= to && end > from)
            expected.append(p.startMs);
    }
    if (desc)
        std::reverse(expected.begin(), expected.end());
    QVector<qint64> starts;
    for (int i = 0; i < periods.size(); ++i) {
        const QJsonObject period = periods.at(i).toObject();
        QVERIFY(period.value(QStringLiteral("startTimeMs")).isString());
        QVERIFY(period.value(QStringLiteral("durationMs")).isString());
        starts.append(period.value(QStringLiteral("startTimeMs")).toString().toLongLong());
        const qint64 duration = period.value(QStringLiteral("durationMs")).toString().toLongLong();
        const bool latest = starts.last() == m_site.periods(camera).last().startMs;
        QCOMPARE(duration == -1, latest); // the one still recording, and only that one
        if (!latest)
            QVERIFY(duration > 0);
    }
    QCOMPARE(starts, expected);
}

void TestSim::recordedPeriodsRefusals_data()
{
    QTest::addColumn<QString>("query");
    const QString id = expectedSite().cameras().at(0).id;
    QTest::newRow("no camera") << "startTime=0&endTime=1";
    QTest::newRow("no start") << "cameraId=" + id + "&endTime=1";
    QTest::newRow("no end") << "cameraId=" + id + "&startTime=0";
    QTest::newRow("start not a number") << "cameraId=" + id + "&startTime=yesterday&endTime=1";
    QTest::newRow("end with a fraction") << "cameraId=" + id + "&startTime=0&endTime=1.5";
    QTest::newRow("end before start") << "cameraId=" + id + "&startTime=2000&endTime=1000";
    QTest::newRow("desc neither 0 nor 1") << "cameraId=" + id + "&startTime=0&endTime=1&desc=maybe";
    QTest::newRow("unknown camera") << "cameraId={00000000-1111-2222-3333-444444444444}&startTime=0&endTime=1";
}

void TestSim::recordedPeriodsRefusals()
{
    QFETCH(QString, query);
    const HttpResult result = get(vms("/ec2/recordedTimePeriods?" + query), User, Password);
    QCOMPARE(result.status, 200); // refusals travel inside the JSON, as the real server's do
    const QJsonObject object = jsonObject(result.body);
    QVERIFY(object.value(QStringLiteral("error")).toString().toInt() != 0);
    QVERIFY(!object.value(QStringLiteral("errorString")).toString().isEmpty());
}

void TestSim::idsWithAndWithoutEscapes()
{
    // Clients write the braces of an id raw or escaped; both name the same camera.
    SimProcess sim;
    QVERIFY(sim.start(siteArguments + QStringList { "--auth", "basic" }));
    const QByteArray id = m_site.cameras().at(1).id.toLatin1();
    const QByteArray escaped = QUrl::toPercentEncoding(QString::fromLatin1(id));
    auto request = [&](const QByteArray &target) {
        return rawRequest(sim.vmsPort(),
            "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + basicAuthorization() + "Connection: close\r\n\r\n");
    };
    const QByteArray window = "&startTime=1796511600000&endTime=1796597999999&desc=1"; // yesterday
    const QByteArray raw = request("/ec2/recordedTimePeriods?cameraId=" + id + window);
    const QByteArray encoded = request("/ec2/recordedTimePeriods?cameraId=" + escaped + window);
    const QByteArray bare = request("/ec2/recordedTimePeriods?cameraId=" + id.mid(1, id.size() - 2) + window);
    QVERIFY(raw.startsWith("HTTP/1.1 200"));
    QVERIFY(raw.contains("\"error\":\"0\""));
    QVERIFY(raw.contains("startTimeMs"));
    const QByteArray body = raw.mid(raw.indexOf("\r\n\r\n"));
    QCOMPARE(encoded.mid(encoded.indexOf("\r\n\r\n")), body);
    QCOMPARE(bare.mid(bare.indexOf("\r\n\r\n")), body);

    QVERIFY(request("/hls/" + id + ".mkv?pos=1796637600000&duration=x").startsWith("HTTP/1.1 400"));
    QVERIFY(request("/hls/" + escaped + ".mkv?pos=1796637600000&duration=x").startsWith("HTTP/1.1 400"));
    QVERIFY(request("/hls/{00000000-1111-2222-3333-444444444444}.mkv?pos=0&duration=1").startsWith("HTTP/1.1 404"));
    QVERIFY(sim.stop());
}

void TestSim::posSearch_data()
{
    QTest::addColumn<QByteArray>("encodedText");
    QTest::addColumn<QString>("meaning");
    auto row
        = [](const char *name, const QString &text) { QTest::newRow(name) << QUrl::toPercentEncoding(text) << text; };
    row("lower case of Äpfel", QStringLiteral("äpfel"));
    row("upper case", QStringLiteral("ÄPFEL"));
    row("accents", QStringLiteral("CRÈME BRÛLÉE"));
    row("Polish", QStringLiteral("żubrówka"));
    row("escaped ampersand", QStringLiteral("salt & pepper"));
    row("a blank", QStringLiteral("r b"));
    row("on every receipt", QStringLiteral("tillmark market"));
    row("nowhere", QStringLiteral("caviar"));
    row("empty", QString());
    // An ampersand left as it is ends the value: the server is asked for "SALT " only.
    QTest::newRow("raw ampersand") << QByteArray("SALT%20&%20PEPPER") << QStringLiteral("salt ");
}

void TestSim::posSearch()
{
    QFETCH(QByteArray, encodedText);
    QFETCH(QString, meaning);
    const HttpResult result = get(pos("/poses/?text__icontains=" + QString::fromLatin1(encodedText)));
    QCOMPARE(result.status, 200);
    QVERIFY(result.headers.value("content-type").startsWith("application/json"));
    const QJsonArray found = QJsonDocument::fromJson(result.body).array();

    int expected = 0;
    for (const simdata::Receipt &receipt : m_site.receipts())
        expected += receipt.text.contains(meaning, Qt::CaseInsensitive);
    QCOMPARE(found.size(), expected);
    for (const QJsonValue &value : found)
        QVERIFY(value.toObject().value(QStringLiteral("text")).toString().contains(meaning, Qt::CaseInsensitive));
}

void TestSim::posWindow()
{
    static const QRegularExpression utcMs(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
    auto window = [&](const QString &after, const QString &before) {
        return get(pos("/poses/?received_at__range_after=" + after + "&received_at__range_before=" + before));
    };
    const simdata::Receipt &chosen = m_site.receipts().at(m_site.receipts().size() / 2);
    const qint64 t = *chosen.receivedAtMs;

    // The three minutes around a transaction, as the export asks for them: oldest first.
    const HttpResult around = window(simdata::formatUtc(t - 90000), simdata::formatUtc(t + 90000));
    QCOMPARE(around.status, 200);
    const QJsonArray found = QJsonDocument::fromJson(around.body).array();
    QVector<qint64> expected;
    for (const simdata::Receipt &receipt : m_site.receipts()) {
        if (*receipt.receivedAtMs >= t - 90000 && *receipt.receivedAtMs <= t + 90000)
            expected.append(*receipt.receivedAtMs);
    }
    QVector<qint64> times;
    QSet<QString> cameraIds;
    for (const simdata::Camera &camera : m_site.cameras())
        cameraIds.insert(camera.id);
    for (const QJsonValue &value : found) {
        const QJsonObject transaction = value.toObject();
        const QString receivedAt = transaction.value(QStringLiteral("received_at")).toString();
        QVERIFY2(utcMs.match(receivedAt).hasMatch(), qPrintable(receivedAt));
        times.append(*simdata::parseIsoDateTime(receivedAt));
        const QJsonArray streams
            = transaction.value(QStringLiteral("device")).toObject().value(QStringLiteral("streams")).toArray();
        QVERIFY(!streams.isEmpty());
        for (const QJsonValue &stream : streams)
            QVERIFY(cameraIds.contains(stream.toObject().value(QStringLiteral("nx_id")).toString()));
    }
    QCOMPARE(times, expected);

    // Inclusive bounds: a window of one millisecond finds the transaction of that millisecond.
    const QJsonArray exact = QJsonDocument::fromJson(window(simdata::formatUtc(t), simdata::formatUtc(t)).body).array();
    QCOMPARE(exact.size(), 1);
    QCOMPARE(exact.at(0).toObject().value(QStringLiteral("text")).toString(), chosen.text);
    QVERIFY(
        QJsonDocument::fromJson(window(simdata::formatUtc(t + 1), simdata::formatUtc(t + 1)).body).array().isEmpty());

    // The same instants with an offset, escaped or not (an unescaped "+" reads as a blank).
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(t - 90000, Qt::OffsetFromUTC, 7200);
    const QString withOffset = local.toString(Qt::ISODateWithMs);
    QCOMPARE(window(QString::fromLatin1(QUrl::toPercentEncoding(withOffset)), simdata::formatUtc(t + 90000)).body,
        around.body);
    QCOMPARE(window(withOffset, simdata::formatUtc(t + 90000)).body, around.body);

    // Text and range together: the receipts that meet both.
    const qint64 dayMs = 24 * 3600 * 1000;
    const QJsonArray both = QJsonDocument::fromJson(
        get(pos("/poses/?text__icontains=total&received_at__range_after=" + simdata::formatUtc(t - dayMs)
                + "&received_at__range_before=" + simdata::formatUtc(t)))
            .body)
                                .array();
    int meetingBoth = 0;
    for (const simdata::Receipt &receipt : m_site.receipts()) {
        meetingBoth += receipt.text.contains("total", Qt::CaseInsensitive) && *receipt.receivedAtMs >= t - dayMs
            && *receipt.receivedAtMs <= t;
    }
    QVERIFY(meetingBoth > 0);
    QCOMPARE(both.size(), meetingBoth);

    // No condition: everything.
    QCOMPARE(QJsonDocument::fromJson(get(pos("/poses/")).body).array().size(), m_site.receipts().size());
}

void TestSim::posMalformedDates_data()
{
    QTest::addColumn<QString>("query");
    QTest::newRow("words") << "received_at__range_after=yesterday";
    QTest::newRow("month 13") << "received_at__range_before=2026-13-01T00:00:00.000Z";
    QTest::newRow("hour 25") << "received_at__range_after=2026-12-07T25:00:00.000Z";
    QTest::newRow("second bound bad") << "received_at__range_after=2026-12-07T10:00:00.000Z"
                                         "&received_at__range_before=2026-12-07T10:00:00.000Q";
    QTest::newRow("bad escape") << "received_at__range_after=%ZZ";
}

void TestSim::posMalformedDates()
{
    QFETCH(QString, query);
    const HttpResult result = get(pos("/poses/?" + query));
    QCOMPARE(result.status, 400);
    QVERIFY2(result.body.contains("received_at__range_"), result.body.constData()); // says which one
}

void TestSim::receiptsFile()
{
    const QString path = m_dir.filePath(QStringLiteral("receipts.json"));
    const QByteArray transactions = R"([
        {"id": 7, "text": "Till 9\nFOO & BAR 1.00", "received_at": "2026-12-07T09:00:00.000Z",
         "device": {"id": 9, "name": "Till 9", "streams": [{"nx_id": "{a}", "name": "A"}]}},
        {"id": 3, "text": "Till 9\nÄpfel 2.00", "received_at": "2026-12-07T08:00:00.000Z",
         "device": {"id": 9, "name": "Till 9", "streams": []}}])";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(transactions);
    file.close();

    SimProcess sim;
    QVERIFY(sim.start({ "--receipts-file", path, "--days", "1" }));
    QCOMPARE(QJsonDocument::fromJson(get(sim.posBase() + "/poses/").body).array(),
        QJsonDocument::fromJson(transactions).array()); // file order, keys kept
    const QJsonArray apples
        = QJsonDocument::fromJson(get(sim.posBase() + "/poses/?text__icontains=%C3%A4PFEL").body).array();
    QCOMPARE(apples.size(), 1);
    QCOMPARE(apples.at(0).toObject().value(QStringLiteral("id")).toInt(), 3);
    QVERIFY(sim.stop());

    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"results": []})");
    file.close();
    SimProcess refused;
    QVERIFY(!refused.start({ "--receipts-file", path }, 10000));
    QVERIFY(refused.waitForExit());
    QVERIFY(refused.process().exitCode() != 0);
    QVERIFY(refused.process().readAllStandardError().contains("array"));
}

void TestSim::clip_data()
{
    QTest::addColumn<int>("duration");
    QTest::addColumn<int>("hi");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("3 s, high") << 3 << 1 << 640 << 360;
    QTest::newRow("1 s, low") << 1 << 0 << 320 << 180;
}

void TestSim::clip()
{
    QFETCH(int, duration);
    QFETCH(int, hi);
    QFETCH(int, width);
    QFETCH(int, height);
    const QString url = vms(QStringLiteral("/hls/%1.mkv?pos=%2&duration=%3&hi=%4")
                                .arg(m_site.cameras().at(1).id)
                                .arg(m_site.config().nowMs - Hour)
                                .arg(duration)
                                .arg(hi));
    const HttpResult result = get(url, User, Password);
    QCOMPARE(result.status, 200);
    QCOMPARE(result.headers.value("content-type"), QByteArray("video/x-matroska"));
    const QString path = m_dir.filePath(QStringLiteral("clip.mkv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(result.body);
    file.close();

    // The clip came through a pipe, yet carries its duration in the header, so ffprobe can tell it.
    const Probe clip = probe(path);
    QVERIFY2(clip.formatName.contains(QLatin1String("matroska")), qPrintable(clip.formatName));
    QCOMPARE(clip.duration, double(duration));
    QCOMPARE(clip.width, width);
    QCOMPARE(clip.height, height);
    QCOMPARE(clip.frameRate, QStringLiteral("25/1"));
    QCOMPARE(clip.frames, 25 * duration);
}

void TestSim::clipThroughFfmpeg()
{
    // The export hands FFmpeg the clip URL with the account in it and the id's braces as they are; FFmpeg
    // escapes them in the request line but hashes them unescaped in its Digest answer.
    const QString url = QStringLiteral("http://%1:%2@127.0.0.1:%3/hls/%4.mkv?pos=%5&duration=1&hi=0")
                            .arg(User, Password)
                            .arg(m_sim.vmsPort())
                            .arg(m_site.cameras().at(3).id)
                            .arg(m_site.config().nowMs - 2 * Hour);
    const QString path = m_dir.filePath(QStringLiteral("through-ffmpeg.mkv"));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), { "-v", "error", "-y", "-i", url, "-c", "copy", path });
    QVERIFY(ffmpeg.waitForFinished(60000));
    QVERIFY2(ffmpeg.exitCode() == 0, ffmpeg.readAllStandardError().constData());
    const Probe clip = probe(path);
    QCOMPARE(clip.duration, 1.0);
    QCOMPARE(clip.width, 320);
}

void TestSim::clipRefusals_data()
{
    QTest::addColumn<QString>("pathAndQuery");
    QTest::addColumn<int>("status");
    const QString id = expectedSite().cameras().at(0).id;
    QTest::newRow("unknown camera") << "/hls/{00000000-1111-2222-3333-444444444444}.mkv?pos=0&duration=1" << 404;
    QTest::newRow("no pos") << "/hls/" + id + ".mkv?duration=1" << 400;
    QTest::newRow("pos not a number") << "/hls/" + id + ".mkv?pos=noon&duration=1" << 400;
    QTest::newRow("negative pos") << "/hls/" + id + ".mkv?pos=-1000&duration=1" << 400;
    QTest::newRow("no duration") << "/hls/" + id + ".mkv?pos=0" << 400;
    QTest::newRow("zero duration") << "/hls/" + id + ".mkv?pos=0&duration=0" << 400;
    QTest::newRow("end before start") << "/hls/" + id + ".mkv?pos=0&duration=-180" << 400;
    QTest::newRow("more than a day") << "/hls/" + id + ".mkv?pos=0&duration=86401" << 400;
    QTest::newRow("hi=2") << "/hls/" + id + ".mkv?pos=0&duration=1&hi=2" << 400;
    QTest::newRow("not a Matroska path") << "/hls/" + id + ".mp4?pos=0&duration=1" << 404;
}

void TestSim::clipRefusals()
{
    QFETCH(QString, pathAndQuery);
    QFETCH(int, status);
    const HttpResult result = get(vms(pathAndQuery), User, Password);
    QCOMPARE(result.status, status);
    QVERIFY(!result.body.trimmed().isEmpty()); // a reason a person can read
}

void TestSim::clipFromFile()
{
    const QString path = m_dir.filePath(QStringLiteral("fixed.mkv"));
    const QByteArray bytes = randomBytes(300 * 1024 + 17);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    SimProcess sim;
    QVERIFY(sim.start(siteArguments + QStringList { "--clip-file", path }));
    const HttpResult result
        = get(sim.vmsBase() + "/hls/" + m_site.cameras().at(0).id + ".mkv?pos=0&duration=60&hi=1", User, Password);
    QCOMPARE(result.status, 200);
    QCOMPARE(result.headers.value("content-length").toLongLong(), qint64(bytes.size()));
    QCOMPARE(result.body, bytes);
    QVERIFY(sim.stop());
}

void TestSim::cutClip_data()
{
    QTest::addColumn<bool>("fromFile");
    QTest::addColumn<int>("cutAfter");
    QTest::newRow("file, mid-chunk") << true << 100000;
    QTest::newRow("file, first byte") << true << 1;
    QTest::newRow("rendered") << false << 50000;
}

void TestSim::cutClip()
{
    QFETCH(bool, fromFile);
    QFETCH(int, cutAfter);
    const QString path = m_dir.filePath(QStringLiteral("cut.mkv"));
    const QByteArray bytes = randomBytes(400 * 1024);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    QStringList arguments
        = siteArguments + QStringList { "--auth", "basic", "--cut-clip-after", QString::number(cutAfter) };
    if (fromFile)
        arguments << "--clip-file" << path;
    SimProcess sim;
    QVERIFY(sim.start(arguments));

    // Read on the socket itself: whether Qt reports a body cut short as an error depends on timing, the bytes
    // on the wire do not.
    const QByteArray answer = rawRequest(sim.vmsPort(),
        "GET /hls/" + m_site.cameras().at(0).id.toLatin1()
            + ".mkv?pos=" + QByteArray::number(m_site.config().nowMs - Hour)
            + "&duration=3&hi=1 HTTP/1.1\r\nHost: x\r\n" + basicAuthorization() + "\r\n");
    const int headerEnd = answer.indexOf("\r\n\r\n");
    QVERIFY(answer.startsWith("HTTP/1.1 200"));
    const QByteArray head = answer.left(headerEnd);
    const QByteArray body = answer.mid(headerEnd + 4);
    if (fromFile) {
        QVERIFY2(head.contains("Content-Length: 409600"), head.constData()); // the whole file is announced
        QCOMPARE(body, bytes.left(cutAfter));
    } else {
        const Dechunked data = dechunk(body);
        QVERIFY(!data.complete); // no closing chunk: the client can tell the clip is broken
        QCOMPARE(data.bytes.size(), cutAfter);
        QVERIFY(data.bytes.startsWith("\x1a\x45\xdf\xa3")); // the Matroska (EBML) signature
    }
    // Only clips are cut.
    QVERIFY(rawRequest(
        sim.vmsPort(), "GET /ec2/getCamerasEx HTTP/1.1\r\n" + basicAuthorization() + "Connection: close\r\n\r\n")
                .startsWith("HTTP/1.1 200"));
    QVERIFY(sim.stop());
}

void TestSim::clientGoneEndsRenderer()
{
    QNetworkAccessManager manager;
    QObject::connect(
        &manager, &QNetworkAccessManager::authenticationRequired, [](QNetworkReply *, QAuthenticator *authenticator) {
            authenticator->setUser(User);
            authenticator->setPassword(Password);
        });
    const QUrl url(
        vms("/hls/" + m_site.cameras().at(2).id + ".mkv?pos=1796600000000&duration=600&hi=0"), QUrl::TolerantMode);
    QNetworkReply *reply = manager.get(QNetworkRequest(url));
    QTRY_VERIFY_WITH_TIMEOUT(reply->bytesAvailable() > 0, 30000);
    QVERIFY(!childrenOf(m_sim.pid()).isEmpty()); // FFmpeg is at work
    reply->abort();
    delete reply;
    QTRY_VERIFY_WITH_TIMEOUT(childrenOf(m_sim.pid()).isEmpty(), 15000);
}

void TestSim::failOption()
{
    SimProcess sim;
    QVERIFY(sim.start(
        siteArguments + QStringList { "--fail", "/api/getTime=503", "--fail", "/poses/=500", "--fail", "/hls/*=404" }));
    const HttpResult time = get(sim.vmsBase() + "/api/getTime", User, Password);
    QCOMPARE(time.status, 503);
    QVERIFY(time.body.contains("Simulated failure"));
    QCOMPARE(get(sim.vmsBase() + "/api/statistics", User, Password).status, 200);
    QCOMPARE(get(sim.posBase() + "/poses/?text__icontains=a").status, 500);
    QCOMPARE(get(sim.posBase() + "/poses?text__icontains=a").status, 200); // exact path only
    const HttpResult clip
        = get(sim.vmsBase() + "/hls/" + m_site.cameras().at(0).id + ".mkv?pos=0&duration=1", User, Password);
    QCOMPARE(clip.status, 404);
    QVERIFY(clip.body.contains("Simulated failure"));
    QVERIFY(sim.stop());
}

void TestSim::delayOptions()
{
    SimProcess sim;
    QVERIFY(sim.start({ "--days", "1", "--delay-ms", "300", "--delay", "/poses/=400" }));
    const HttpResult plain = get(sim.posBase() + "/poses?text__icontains=zzz");
    QCOMPARE(plain.status, 200);
    QVERIFY2(plain.elapsedMs >= 300, qPrintable(QString::number(plain.elapsedMs)));
    const HttpResult more = get(sim.posBase() + "/poses/?text__icontains=zzz");
    QCOMPARE(more.status, 200);
    QVERIFY2(more.elapsedMs >= 700, qPrintable(QString::number(more.elapsedMs)));
    QVERIFY(sim.stop());
}

void TestSim::stallUntilShutdown()
{
    SimProcess sim;
    QVERIFY(sim.start({ "--days", "1", "--stall", "/poses/" }));
    QNetworkAccessManager manager;
    QNetworkReply *stalled = manager.get(QNetworkRequest(QUrl(sim.posBase() + "/poses/")));
    // Two answers, asked for one after the other behind it: the rest keeps answering, and an answer to
    // the stalled request, had one been sent, would be in by the second.
    QNetworkRequest nextRequest(QUrl(sim.posBase() + "/poses"));
    // An idle connection kept open would hold up the server's shutdown below.
    nextRequest.setRawHeader("Connection", "close");
    QNetworkReply *next = manager.get(nextRequest);
    QSignalSpy nextFinished(next, &QNetworkReply::finished);
    QVERIFY(nextFinished.wait(30000));
    QCOMPARE(next->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    delete next;
    QCOMPARE(get(sim.posBase() + "/poses").status, 200);
    QVERIFY(!stalled->isFinished());

    QElapsedTimer timer;
    timer.start();
    QVERIFY(sim.stop()); // SIGTERM ends the stalled request too, and the program exits 0
    // Prompt, not stuck until the stalled request gives up: generous for a loaded sanitizer run.
    QVERIFY2(timer.elapsed() < 15000, qPrintable(QString::number(timer.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(stalled->isFinished(), 5000);
    delete stalled;
}

void TestSim::endsWithItsInput()
{
    SimProcess sim;
    QVERIFY(sim.start({ "--days", "1" }));
    sim.process().closeWriteChannel(); // what a parent that dies does to it
    QVERIFY(sim.process().waitForFinished(10000));
    QCOMPARE(sim.process().exitCode(), 0);
}

void TestSim::malformedRequests_data()
{
    QTest::addColumn<bool>("toVms");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("statusLine");
    const QByteArray end = " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    QTest::newRow("garbage") << false << QByteArray("GARBAGE\r\n\r\n") << QByteArray("HTTP/1.1 400");
    QTest::newRow("unknown version") << false << QByteArray("GET /poses/ HTTP/7.0\r\n\r\n")
                                     << QByteArray("HTTP/1.1 400");
    QTest::newRow("binary") << false << QByteArray("\x00\x01\x02\r\n\r\n", 7) << QByteArray("HTTP/1.1 400");
    QTest::newRow("header of 20000 bytes")
        << false << "GET /poses/ HTTP/1.1\r\nX-Big: " + QByteArray(20000, 'a') + "\r\n\r\n"
        << QByteArray("HTTP/1.1 400");
    QTest::newRow("broken chunked body")
        << false << QByteArray("POST /poses/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nZZZ\r\n\r\n")
        << QByteArray("HTTP/1.1 400");
    QTest::newRow("search text not UTF-8")
        << false << "GET /poses/?text__icontains=%C3%28%FF" + end << QByteArray("HTTP/1.1 200");
    QTest::newRow("URI of 20000 bytes") << false << "GET /poses/?text__icontains=" + QByteArray(20000, 'a') + end
                                        << QByteArray("HTTP/1.1 414");
    QTest::newRow("POST") << false
                          << QByteArray("POST /poses/ HTTP/1.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                          << QByteArray("HTTP/1.1 404");
    QTest::newRow("parent directories") << false << "GET /../../etc/passwd" + end << QByteArray("HTTP/1.1 404");
    QTest::newRow("NUL in a date") << false << "GET /poses/?received_at__range_after=2026-12-07T10:00:00.000Z%00" + end
                                   << QByteArray("HTTP/1.1 400");
    QTest::newRow("broken Digest header")
        << true
        << QByteArray("GET /api/statistics HTTP/1.1\r\nAuthorization: Digest username=\"admin\", realm=\"\r\n\r\n")
        << QByteArray("HTTP/1.1 401");
    QTest::newRow("Basic that is not base64")
        << true << QByteArray("GET /api/statistics HTTP/1.1\r\nAuthorization: Basic !!!\r\n\r\n")
        << QByteArray("HTTP/1.1 401");
}

void TestSim::malformedRequests()
{
    QFETCH(bool, toVms);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);
    const QByteArray answer = rawRequest(toVms ? m_sim.vmsPort() : m_sim.posPort(), request);
    QVERIFY2(answer.startsWith(statusLine), answer.left(200).constData());
    // And it lives on.
    QCOMPARE(m_sim.process().state(), QProcess::Running);
    QCOMPARE(get(vms("/api/statistics"), User, Password).status, 200);
}

void TestSim::startupErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("takePort");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("VMS port in use") << QStringList { "--vms-port", "PORT" } << true << 1 << QByteArray("VMS");
    QTest::newRow("POS port in use") << QStringList { "--pos-port", "PORT" } << true << 1 << QByteArray("POS");
    QTest::newRow("VMS port of the running simulator")
        << QStringList { "--vms-port", "SIMVMS" } << false << 1 << QByteArray("port in use");
    QTest::newRow("POS port of the running simulator")
        << QStringList { "--pos-port", "SIMPOS" } << false << 1 << QByteArray("port in use");
    QTest::newRow("unknown option") << QStringList { "--colour" } << false << 2 << QByteArray("colour");
    QTest::newRow("no days") << QStringList { "--days", "0" } << false << 2 << QByteArray("--days");
    QTest::newRow("fail without status") << QStringList { "--fail", "/poses/" } << false << 2 << QByteArray("--fail");
    QTest::newRow("missing receipts file")
        << QStringList { "--receipts-file", "/nonexistent/r.json" } << false << 2 << QByteArray("/nonexistent/r.json");
    QTest::newRow("missing clip file") << QStringList { "--clip-file", "/nonexistent/c.mkv" } << false << 2
                                       << QByteArray("/nonexistent/c.mkv");
    QTest::newRow("certificate without key") << QStringList { "--tls", "--cert", "CERTS/issued.crt" } << false << 2
                                             << QByteArray("--cert and --key go together");
    QTest::newRow("certificate without TLS") << QStringList { "--cert", "CERTS/issued.crt", "--key",
        "CERTS/issued.key" } << false << 2 << QByteArray("need --tls");
    QTest::newRow("missing certificate file") << QStringList { "--tls", "--cert", "/nonexistent/c.crt", "--key",
        "CERTS/issued.key" } << false << 2 << QByteArray("cannot read /nonexistent/c.crt");
    QTest::newRow("key of another certificate") << QStringList { "--tls", "--cert", "CERTS/issued.crt", "--key",
        "CERTS/self-signed.key" } << false << 2 << QByteArray("does not belong to the certificate");
    QTest::newRow("key given as the certificate") << QStringList { "--tls", "--cert", "CERTS/issued.key", "--key",
        "CERTS/issued.key" } << false << 2 << QByteArray("no PEM certificate");
    QTest::newRow("certificate given as the key") << QStringList { "--tls", "--cert", "CERTS/issued.crt", "--key",
        "CERTS/issued.crt" } << false << 2 << QByteArray("no PEM private key");
}

void TestSim::startupErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, takePort);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    arguments.replaceInStrings(QStringLiteral("CERTS"), m_certs.folder());
    QTcpServer occupant;
    if (takePort) {
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        arguments.replaceInStrings(QStringLiteral("PORT"), QString::number(occupant.serverPort()));
    }
    arguments.replaceInStrings(QStringLiteral("SIMVMS"), QString::number(m_sim.vmsPort()));
    arguments.replaceInStrings(QStringLiteral("SIMPOS"), QString::number(m_sim.posPort()));
    SimProcess sim;
    QVERIFY(!sim.start(arguments, 10000));
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process().exitCode(), exitCode);
    const QByteArray error = sim.process().readAllStandardError();
    QVERIFY2(error.startsWith("tillmark-sim: ") && error.contains(message), error.constData());
    QVERIFY(sim.vmsPort() == 0 || sim.posPort() == 0); // never both "listening" lines
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
