#include "core/appstate.h"
#include "core/common.h"
#include "net/certificatetrust.h"
#include "net/posclient.h"
#include "net/vmsclient.h"
#include "pos/posdownloader.h"
#include "pos/possearching.h"
#include "simprocess.h"
#include "testcerts.h"
#include "testserver.h"
#include "testutil.h"
#include "vms/apicall.h"
#include "vms/recordingslist.h"
#include "vms/streamslist.h"

#include <QSettings>
#include <QSslConfiguration>
#include <QtTest>

#include <memory>

using Scheme = httpauth::Scheme;
Q_DECLARE_METATYPE(httpauth::Scheme)

namespace {

/// How a login through the client came out: what the operator is told, or that it worked.
struct Login {
    bool loggedIn = false;
    QString error;
};

Login logIn(VmsClient &client)
{
    ApiCall api;
    api.setClient(&client);
    Login outcome;
    QObject::connect(&api, &ApiCall::loggedIn, [&outcome] { outcome.loggedIn = true; });
    QObject::connect(&api, &ApiCall::errorOccured, [&outcome](const QString &message) { outcome.error = message; });
    QSignalSpy done(&api, &ApiCall::isLoggingInChanged);
    api.testLogin();
    if (!done.wait(30000) || api.isLoggingIn())
        qWarning("the login did not end");
    return outcome;
}

/// The system's trusted certificates with one more, for as long as it lives.
class TrustedAuthority
{
public:
    explicit TrustedAuthority(const QSslCertificate &authority)
        : m_before(QSslConfiguration::defaultConfiguration())
    {
        QSslConfiguration with = m_before;
        with.addCaCertificate(authority);
        QSslConfiguration::setDefaultConfiguration(with);
    }
    ~TrustedAuthority() { QSslConfiguration::setDefaultConfiguration(m_before); }

private:
    QSslConfiguration m_before;
};

} // namespace

/// The servers over HTTPS, as the clients meet them: the scheme typed is the scheme used, a certificate the
/// system does not trust is asked about and pinned, and one that is broken or changed is refused in words;
/// besides, the account's password beyond ASCII, and Basic over plain HTTP said out loud.
class TestHttps : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void schemeAsTyped_data();
    void schemeAsTyped();
    void httpsGivenNoPlainRequest();

    void firstUseAskedAndCancelLeavesNoPin();
    void changedCertificateRefusedWithBothFingerprints();
    void authorityTrustedAsksNothing();
    void brokenCertificateRefusedInWords_data();
    void brokenCertificateRefusedInWords();
    void settingsKeepSchemeAndPinsAcrossRestart();

    void passwordBeyondAscii_data();
    void passwordBeyondAscii();
    void basicOverPlainHttpSaid_data();
    void basicOverPlainHttpSaid();

private:
    /// A client of a server of its own, with its own pins.
    std::unique_ptr<VmsClient> client(const QString &base, CertificateTrust &trust) const;

    TestCertificates m_certs;
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<CertificateTrust> m_trust;
    int m_run = 0;
};

void TestHttps::initTestCase()
{
    QVERIFY2(m_certs.isValid(), qPrintable(m_certs.error()));
    QVERIFY(QSslSocket::supportsSsl());
    SimProcess::beforeStop() = closeServerConnections;
}

void TestHttps::init()
{
    m_trust.reset();
    m_settings
        = std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("run%1.ini").arg(++m_run)), QSettings::IniFormat);
    m_trust = std::make_unique<CertificateTrust>(*m_settings);
    Request::setTransferTimeoutMs(60000);
}

std::unique_ptr<VmsClient> TestHttps::client(const QString &base, CertificateTrust &trust) const
{
    auto made = std::make_unique<VmsClient>();
    made->setTrust(&trust);
    made->setBase(base);
    made->setAccount(QStringLiteral("admin"), QStringLiteral("Pelmo4826"));
    return made;
}

void TestHttps::schemeAsTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("base");
    QTest::newRow("bare host and port: plain HTTP") << "localhost:7001"
                                                    << "http://localhost:7001";
    QTest::newRow("https kept") << " https://vms.shop.lan:7001/ "
                                << "https://vms.shop.lan:7001";
    QTest::newRow("http kept") << "http://10.0.0.5:8000"
                               << "http://10.0.0.5:8000";
    QTest::newRow("IPv6 bare") << "[::1]:7001"
                               << "http://[::1]:7001";
}

void TestHttps::schemeAsTyped()
{
    QFETCH(QString, typed);
    QFETCH(QString, base);
    VmsClient vms;
    QCOMPARE(vms.baseFor(typed), base);
}

void TestHttps::httpsGivenNoPlainRequest()
{
    // Both servers over HTTPS with certificates of an authority the system trusts; every kind of request
    // of the program goes to them, and none anywhere else.
    TrustedAuthority authority(m_certs.authority.sslCertificate());
    TestServer vmsServer(m_certs.issued.tls());
    TestServer posServer(m_certs.issued.tls());
    vmsServer.requireAuth(Scheme::Digest, "admin", "Pelmo4826");
    vmsServer.route("/api/getTime", { 200, R"({"error":"0","reply":{"timeZoneOffset":"3600000"}})" });
    vmsServer.route("/ec2/getCamerasEx", { 200, R"([{"id":"cam-1","name":"Till"}])" });
    vmsServer.route("/ec2/recordedTimePeriods", { 200, R"({"error":"0","reply":[]})" });
    vmsServer.route("/hls/cam-1.mkv", { 200, QByteArray(64 * 1024, 'v') });
    posServer.setDefault({ 200, "[]" });
    AppState settings;
    settings.setBase(vmsServer.base());
    settings.setPosBase(posServer.base());
    VmsClient vms;
    vms.setTrust(m_trust.get());
    vms.followSettings(&settings);
    PosClient pos;
    pos.setTrust(m_trust.get());
    pos.followSettings(&settings);
    for (const QString &url : { vms.statisticsUrl(), vms.timeUrl(), vms.camerasUrl(), vms.periodsUrl("c", 1, 2),
             vms.clipUrl("c", 1, 2, false), vms.credentialedClipUrl("c", QDateTime(), QDateTime()),
             pos.searchUrl("milk"), pos.windowUrl(QDateTime::currentDateTime(), QDateTime::currentDateTime()) })
        QVERIFY2(url.startsWith("https://"), qPrintable(url));

    WorkDir dir;
    ApiCall api;
    api.setClient(&vms);
    QSignalSpy timezone(&api, &ApiCall::timezoneReceived);
    QSignalSpy downloaded(&api, &ApiCall::downloadComplete);
    QSignalSpy failed(&api, &ApiCall::errorOccured);
    api.testLogin();
    api.fetchTimezone();
    api.download("cam-1", 0, 60);
    StreamsList cameras;
    cameras.setClient(&vms);
    cameras.loadStreams();
    RecordingsList periods;
    periods.setClient(&vms);
    QSignalSpy loaded(&periods, &RecordingsList::loadingFinished);
    periods.loadRecordingsOfDay("cam-1", QDate(2021, 6, 1));
    PosSearching search;
    search.setClient(&pos);
    search.searchByContent("milk");
    PosDownloader window;
    window.setClient(&pos);
    QSignalSpy windowDone(&window, &PosDownloader::posDownloaded);
    window.download(QDateTime::currentDateTime(), QDateTime::currentDateTime().addSecs(180), "cam-1");

    QVERIFY(downloaded.wait(30000) || !downloaded.isEmpty());
    QTRY_VERIFY(!timezone.isEmpty() && !loaded.isEmpty() && !windowDone.isEmpty());
    QTRY_VERIFY(!cameras.isLoading() && !search.isLoading());
    QCOMPARE(failed.count(), 0);
    QCOMPARE(cameras.rowCount(), 1);
    QCOMPARE(readFile("download.mkv"), QByteArray(64 * 1024, 'v'));
    // Login, time, clip, cameras, periods; search and window: all of them over TLS, none refused.
    QVERIFY(vmsServer.answeredCount() >= 5);
    QCOMPARE(posServer.requestCount(), size_t(2));
    QVERIFY(!m_trust->asking());
    QCOMPARE(window.peerFingerprint(), TlsTrust::fingerprint(m_certs.issued.sslCertificate()));
}

void TestHttps::firstUseAskedAndCancelLeavesNoPin()
{
    TestServer server(m_certs.selfSigned.tls());
    const auto vms = client(server.base(), *m_trust);
    QSignalSpy question(m_trust.get(), &CertificateTrust::questionChanged);

    // Met the first time: stopped before any request went out, and asked about.
    const Login first = logIn(*vms);
    QVERIFY(!first.loggedIn);
    QVERIFY2(first.error.contains("not trusted yet"), qPrintable(first.error));
    QVERIFY(m_trust->asking());
    QCOMPARE(m_trust->server(), QStringLiteral("127.0.0.1:%1").arg(server.port()));
    const QString fingerprint = TlsTrust::fingerprint(m_certs.selfSigned.sslCertificate());
    QVERIFY2(m_trust->details().contains(fingerprint), qPrintable(m_trust->details()));
    QVERIFY2(m_trust->reason().contains("self-signed"), qPrintable(m_trust->reason()));
    QCOMPARE(server.requestCount(), size_t(0));

    // Cancel: nothing is pinned, and the next connection asks again.
    m_trust->decline();
    QVERIFY(!m_trust->asking());
    QCOMPARE(m_trust->trustedCount(), 0);
    QVERIFY(!logIn(*vms).loggedIn);
    QVERIFY(m_trust->asking());
    QCOMPARE(server.requestCount(), size_t(0));

    // Trusted: pinned for that host and port, and the login goes through.
    QSignalSpy trusted(m_trust.get(), &CertificateTrust::trusted);
    m_trust->trust();
    QCOMPARE(trusted.count(), 1);
    QCOMPARE(m_trust->trustedCount(), 1);
    QVERIFY(logIn(*vms).loggedIn);
    QVERIFY(server.requestCount() > 0);
    QVERIFY(!m_trust->asking());
}

void TestHttps::changedCertificateRefusedWithBothFingerprints()
{
    auto first = std::make_unique<TestServer>(m_certs.selfSigned.tls());
    const auto vms = client(first->base(), *m_trust);
    QVERIFY(!logIn(*vms).loggedIn);
    m_trust->trust();
    QVERIFY(logIn(*vms).loggedIn);

    // The same host and port now shows another certificate: refused, never asked about.
    const int port = first->port();
    first.reset();
    TestServer second(m_certs.otherSelfSigned.tls(), port);
    QVERIFY(second.isListening());
    const Login changed = logIn(*vms);
    QVERIFY(!changed.loggedIn);
    QVERIFY2(
        changed.error.contains(TlsTrust::fingerprint(m_certs.selfSigned.sslCertificate())), qPrintable(changed.error));
    QVERIFY2(changed.error.contains(TlsTrust::fingerprint(m_certs.otherSelfSigned.sslCertificate())),
        qPrintable(changed.error));
    QVERIFY(!m_trust->asking());
    QCOMPARE(second.requestCount(), size_t(0));
}

void TestHttps::authorityTrustedAsksNothing()
{
    TrustedAuthority authority(m_certs.authority.sslCertificate());
    TestServer server(m_certs.issued.tls());
    const auto vms = client(server.base(), *m_trust);
    QVERIFY(logIn(*vms).loggedIn);
    QVERIFY(!m_trust->asking());
    QCOMPARE(m_trust->trustedCount(), 0);
}

void TestHttps::brokenCertificateRefusedInWords_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("words");
    QTest::newRow("expired") << "expired"
                             << "expired";
    QTest::newRow("another host name") << "wrongHost"
                                       << "cameras.example.com";
}

void TestHttps::brokenCertificateRefusedInWords()
{
    QFETCH(QString, which);
    QFETCH(QString, words);
    TrustedAuthority authority(m_certs.authority.sslCertificate());
    TestServer server(which == "expired" ? m_certs.expired.tls() : m_certs.wrongHost.tls());
    const auto vms = client(server.base(), *m_trust);
    const Login refused = logIn(*vms);
    QVERIFY(!refused.loggedIn);
    QVERIFY2(refused.error.contains(words, Qt::CaseInsensitive), qPrintable(refused.error));
    QVERIFY(!m_trust->asking());
    QCOMPARE(server.requestCount(), size_t(0));
}

void TestHttps::settingsKeepSchemeAndPinsAcrossRestart()
{
    const QString path = m_dir.filePath("restart.ini");
    TestServer server(m_certs.selfSigned.tls());
    {
        QSettings file(path, QSettings::IniFormat);
        CertificateTrust trust(file);
        const auto vms = client(server.base(), trust);
        QVERIFY(!logIn(*vms).loggedIn);
        trust.trust();
        AppState settings;
        settings.setBase(server.base());
        settings.setPosBase("https://pos.shop.lan:8443");
        settings.setUser("clerk");
        settings.setPassword("never saved");
        settings.saveConnection(file);
    }
    QVERIFY(!readFile(path).contains("never saved"));

    // A new run: the same file, read afresh.
    QSettings file(path, QSettings::IniFormat);
    AppState settings;
    settings.loadConnection(file);
    QCOMPARE(settings.base(), server.base());
    QVERIFY(settings.base().startsWith("https://"));
    QCOMPARE(settings.posBase(), QStringLiteral("https://pos.shop.lan:8443"));
    QCOMPARE(settings.user(), QStringLiteral("clerk"));
    CertificateTrust trust(file);
    QCOMPARE(trust.trustedCount(), 1);
    const auto vms = client(server.base(), trust);
    QVERIFY(logIn(*vms).loggedIn);
    QVERIFY(!trust.asking());
}

void TestHttps::passwordBeyondAscii_data()
{
    QTest::addColumn<Scheme>("scheme");
    QTest::addColumn<QString>("password");
    QTest::newRow("digest, UTF-8") << Scheme::Digest << QString::fromUtf8("Pässwörd1");
    QTest::newRow("basic, UTF-8") << Scheme::Basic << QString::fromUtf8("Pässwörd1");
    QTest::newRow("digest, beyond Latin-1") << Scheme::Digest << QString::fromUtf8("Zürich€短");
    QTest::newRow("digest, ASCII") << Scheme::Digest << QStringLiteral("Pelmo4826");
    QTest::newRow("basic, ASCII") << Scheme::Basic << QStringLiteral("Pelmo4826");
}

void TestHttps::passwordBeyondAscii()
{
    QFETCH(Scheme, scheme);
    QFETCH(QString, password);
    SimProcess sim;
    QVERIFY(sim.start({ "--auth", scheme == Scheme::Digest ? "digest" : "basic", "--password", password }));
    const auto vms = client(sim.vmsBase(), *m_trust);
    vms->setAccount("admin", password);
    QVERIFY(logIn(*vms).loggedIn);
    // The same account with one letter off is refused: the server compares what the client sent.
    vms->setAccount("admin", password.left(password.size() - 1) + 'x');
    QCOMPARE(logIn(*vms).error, QStringLiteral("Invalid credentials"));
}

void TestHttps::basicOverPlainHttpSaid_data()
{
    QTest::addColumn<Scheme>("scheme");
    QTest::addColumn<bool>("secure");
    QTest::addColumn<bool>("said");
    QTest::newRow("basic, plain HTTP") << Scheme::Basic << false << true;
    QTest::newRow("digest, plain HTTP") << Scheme::Digest << false << false;
    QTest::newRow("basic, HTTPS") << Scheme::Basic << true << false;
}

void TestHttps::basicOverPlainHttpSaid()
{
    QFETCH(Scheme, scheme);
    QFETCH(bool, secure);
    QFETCH(bool, said);
    TrustedAuthority authority(m_certs.authority.sslCertificate());
    std::unique_ptr<TestServer> server
        = secure ? std::make_unique<TestServer>(m_certs.issued.tls()) : std::make_unique<TestServer>();
    server->requireAuth(scheme, "admin", "Pelmo4826");
    const auto vms = client(server->base(), *m_trust);
    QSignalSpy learned(vms.get(), &VmsClient::basicInClearChanged);
    QVERIFY(logIn(*vms).loggedIn);
    if (said)
        QVERIFY(learned.count() > 0 || learned.wait(10000));
    // Otherwise: every request the client sent (the login and, over plain HTTP, the one asking for the
    // challenge again) has been answered, and the warning did not come.
    QTRY_COMPARE(server->answeredCount(), server->requestCount());
    QVERIFY(logIn(*vms).loggedIn);
    QCOMPARE(vms->basicInClear(), said);
}

QTEST_GUILESS_MAIN(TestHttps)
#include "tst_https.moc"
