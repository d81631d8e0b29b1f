#include "net/tlstrust.h"
#include "testcerts.h"
#include "testserver.h"
#include "tlscert.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QSslConfiguration>
#include <QtTest>

#include <algorithm>
#include <memory>

using TlsTrust::Decision;
Q_DECLARE_METATYPE(Decision::Verdict)

namespace {

/// What one GET came to when it was handled as a server client handles it: on SSL errors the pins
/// decide, and only an Accept lets the request go on, ignoring what the decision says.
struct Outcome {
    bool sslErrorsRaised = false;
    QList<QSslError> errors;
    Decision decision;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
};

Outcome fetch(QNetworkAccessManager &manager, TlsTrust::Pins &pins, const QUrl &url,
    const QList<QSslCertificate> &authorities = {})
{
    QNetworkRequest request(url);
    if (!authorities.isEmpty()) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        for (const QSslCertificate &authority : authorities)
            configuration.addCaCertificate(authority);
        request.setSslConfiguration(configuration);
    }
    Outcome outcome;
    QNetworkReply *reply = manager.get(request);
    QObject::connect(reply, &QNetworkReply::sslErrors, [&](const QList<QSslError> &errors) {
        outcome.sslErrorsRaised = true;
        outcome.errors = errors;
        outcome.decision = TlsTrust::decide(
            errors, reply->sslConfiguration().peerCertificate(), pins.fingerprint(url.host(), url.port()));
        if (outcome.decision.verdict == Decision::Accept)
            reply->ignoreSslErrors(outcome.decision.ignore);
    });
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!finished.wait(30000))
        qWarning("no answer from %s", qPrintable(url.toString()));
    outcome.error = reply->error();
    outcome.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    outcome.body = reply->readAll();
    delete reply;
    return outcome;
}

QList<int> kinds(const QList<QSslError> &errors)
{
    QList<int> list;
    for (const QSslError &error : errors)
        list << int(error.error());
    std::sort(list.begin(), list.end());
    return list;
}

QString openSslFingerprint(const TestCertificates::Pair &pair)
{
    return QString::fromStdString(tlscert::fingerprint(pair.certificate.toStdString()));
}

/// A date as the refusals give it, to find it in their words.
QString minute(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

} // namespace

/// The trust decision for servers whose certificate the system does not trust: what the operator is
/// shown, what is asked, accepted or refused, the pins, and all of it against real TLS servers.
class TestTlsTrust : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void describesCertificate();
    void decide_data();
    void decide();
    void pinsSurviveRestart();

    void selfSignedAskedThenPinned();
    void authorityIssuedRaisesNoErrors();
    void brokenCertificatesRefused_data();
    void brokenCertificatesRefused();

private:
    const TestCertificates::Pair &pair(const QString &name) const;

    TestCertificates m_certs;
    QTemporaryDir m_dir;
};

void TestTlsTrust::initTestCase()
{
    QVERIFY(QSslSocket::supportsSsl());
    QVERIFY2(m_certs.isValid(), qPrintable(m_certs.error()));
    QVERIFY(m_dir.isValid());
}

const TestCertificates::Pair &TestTlsTrust::pair(const QString &name) const
{
    if (name == QLatin1String("expired"))
        return m_certs.expired;
    if (name == QLatin1String("wrong host"))
        return m_certs.wrongHost;
    if (name == QLatin1String("issued"))
        return m_certs.issued;
    return m_certs.selfSigned;
}

void TestTlsTrust::describesCertificate()
{
    // The fingerprint the operator compares with the server's own (OpenSSL's, as the simulator prints it).
    const QRegularExpression form(QStringLiteral("^([0-9A-F]{2}:){31}[0-9A-F]{2}$"));
    for (const TestCertificates::Pair *each : { &m_certs.authority, &m_certs.issued, &m_certs.selfSigned,
             &m_certs.otherSelfSigned, &m_certs.expired, &m_certs.wrongHost }) {
        const QString fingerprint = TlsTrust::fingerprint(each->sslCertificate());
        QVERIFY2(form.match(fingerprint).hasMatch(), qPrintable(fingerprint));
        QCOMPARE(fingerprint, openSslFingerprint(*each));
    }
    QVERIFY(TlsTrust::fingerprint(m_certs.selfSigned.sslCertificate())
        != TlsTrust::fingerprint(m_certs.otherSelfSigned.sslCertificate()));
    QVERIFY(TlsTrust::fingerprint(QSslCertificate()).isEmpty());

    const TlsTrust::CertificateInfo info = TlsTrust::describe(m_certs.issued.sslCertificate());
    QCOMPARE(info.subject, QStringLiteral("CN=localhost, O=Tillmark"));
    QCOMPARE(info.issuer, QStringLiteral("CN=Tillmark Test CA, O=Tillmark"));
    QVERIFY2(info.names.contains(QStringLiteral("localhost")), qPrintable(info.names.join(' ')));
    QVERIFY2(info.names.contains(QStringLiteral("127.0.0.1")), qPrintable(info.names.join(' ')));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVERIFY(info.validFrom < now && info.validFrom > now.addSecs(-2 * 3600));
    QVERIFY(info.validTo > now.addDays(3 * 365 - 1) && info.validTo < now.addDays(3 * 365 + 1));
    QCOMPARE(info.validTo.timeSpec(), Qt::UTC);

    const QString text = TlsTrust::describeText(info);
    for (const QString &part : { info.subject, info.issuer, info.fingerprint, minute(info.validFrom),
             minute(info.validTo), QStringLiteral("127.0.0.1") })
        QVERIFY2(text.contains(part), qPrintable(text + "\nlacks " + part));
}

void TestTlsTrust::decide_data()
{
    QTest::addColumn<QString>("certificate"); // whose errors, and the server's certificate
    QTest::addColumn<QList<int>>("errors");
    QTest::addColumn<QString>("pin"); // none, same (its own fingerprint), lower (the same in lower case), other
    QTest::addColumn<Decision::Verdict>("verdict");
    QTest::addColumn<QList<int>>("ignored");
    QTest::addColumn<QString>("words"); // in the reason

    using E = QSslError;
    const QList<int> selfSigned { E::SelfSignedCertificate };
    const QList<int> none;
    QTest::newRow("self-signed, not pinned: asked")
        << "self-signed" << selfSigned << "none" << Decision::Ask << none << "self-signed";
    QTest::newRow("self-signed, pinned: accepted")
        << "self-signed" << selfSigned << "same" << Decision::Accept << selfSigned << "";
    QTest::newRow("pin written in lower case")
        << "self-signed" << selfSigned << "lower" << Decision::Accept << selfSigned << "";
    const QList<int> unknownIssuer { E::UnableToGetLocalIssuerCertificate, E::UnableToVerifyFirstCertificate };
    QTest::newRow("unknown issuer, not pinned: asked")
        << "issued" << unknownIssuer << "none" << Decision::Ask << none << "not a certificate authority";
    QTest::newRow("unknown issuer, pinned: both ignored")
        << "issued" << unknownIssuer << "same" << Decision::Accept << unknownIssuer << "";
    QTest::newRow("untrusted root: asked") << "issued" << QList<int> { E::SelfSignedCertificateInChain } << "none"
                                           << Decision::Ask << none << "does not trust";
    QTest::newRow("issuer's authority untrusted: asked")
        << "issued" << QList<int> { E::UnableToGetIssuerCertificate, E::CertificateUntrusted } << "none"
        << Decision::Ask << none << "not trusted for identifying servers";
    QTest::newRow("nothing wrong") << "issued" << none << "none" << Decision::Accept << none << "";

    QTest::newRow("expired, pinned: refused")
        << "expired" << QList<int> { E::SelfSignedCertificate, E::CertificateExpired } << "same" << Decision::Refuse
        << none << "expired on";
    QTest::newRow("not yet valid") << "self-signed" << QList<int> { E::CertificateNotYetValid } << "none"
                                   << Decision::Refuse << none << "not valid before";
    QTest::newRow("other name, not pinned: refused, not asked")
        << "wrong host" << QList<int> { E::SelfSignedCertificate, E::HostNameMismatch } << "none" << Decision::Refuse
        << none << "is for cameras.example.com, not for the address";
    QTest::newRow("other name, pinned: refused") << "wrong host" << QList<int> { E::HostNameMismatch } << "same"
                                                 << Decision::Refuse << none << "cameras.example.com";
    QTest::newRow("revoked") << "issued" << QList<int> { E::CertificateRevoked } << "same" << Decision::Refuse << none
                             << "revoked";
    QTest::newRow("not for servers") << "issued" << QList<int> { E::InvalidPurpose } << "same" << Decision::Refuse
                                     << none << "not meant for identifying a server";
    QTest::newRow("bad signature, pinned")
        << "self-signed" << QList<int> { E::SelfSignedCertificate, E::CertificateSignatureFailed } << "same"
        << Decision::Refuse << none << "could not be checked";

    QTest::newRow("another certificate than the pinned one")
        << "self-signed" << selfSigned << "other" << Decision::Refuse << none << "intercepting";
    QTest::newRow("another certificate, trusted by its chain")
        << "issued" << none << "other" << Decision::Refuse << none << "replaced";
    QTest::newRow("no certificate") << "" << QList<int> { E::NoPeerCertificate } << "none" << Decision::Refuse << none
                                    << "no certificate";
}

void TestTlsTrust::decide()
{
    QFETCH(QString, certificate);
    QFETCH(QList<int>, errors);
    QFETCH(QString, pin);
    QFETCH(Decision::Verdict, verdict);
    QFETCH(QList<int>, ignored);
    QFETCH(QString, words);

    const QSslCertificate peer = certificate.isEmpty() ? QSslCertificate() : pair(certificate).sslCertificate();
    QList<QSslError> sslErrors;
    for (int kind : errors)
        sslErrors << QSslError(QSslError::SslError(kind), peer);
    const QString own = TlsTrust::fingerprint(peer);
    const QString other = TlsTrust::fingerprint(m_certs.otherSelfSigned.sslCertificate());
    const QString pinned = pin == QLatin1String("same") ? own
        : pin == QLatin1String("lower")                 ? own.toLower()
        : pin == QLatin1String("other")                 ? other
                                                        : QString();

    const Decision decision = TlsTrust::decide(sslErrors, peer, pinned);
    QCOMPARE(decision.verdict, verdict);
    QVERIFY2(decision.reason.contains(words), qPrintable(decision.reason));
    QCOMPARE(kinds(decision.ignore), ignored);
    for (const QSslError &error : decision.ignore) {
        QVERIFY(sslErrors.contains(error));
        QVERIFY(TlsTrust::mayBeTrusted(error.error()));
    }
    if (verdict != Decision::Accept)
        QVERIFY(!decision.reason.isEmpty());
    if (verdict == Decision::Ask)
        QCOMPARE(decision.certificate.fingerprint, own);
    if (pin == QLatin1String("other")) {
        QVERIFY2(decision.reason.contains(other) && decision.reason.contains(own), qPrintable(decision.reason));
        QVERIFY2(decision.reason.contains(QLatin1String("administrator")), qPrintable(decision.reason));
    }
}

void TestTlsTrust::pinsSurviveRestart()
{
    const QString path = m_dir.filePath(QStringLiteral("pins.ini"));
    const QString a = TlsTrust::fingerprint(m_certs.selfSigned.sslCertificate());
    const QString b = TlsTrust::fingerprint(m_certs.otherSelfSigned.sslCertificate());
    const QString c = TlsTrust::fingerprint(m_certs.issued.sslCertificate());
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(QStringLiteral("vms/base"), QStringLiteral("https://127.0.0.1:7001"));
    TlsTrust::Pins pins(settings);
    pins.pin(QStringLiteral("127.0.0.1"), 7001, a.toLower());
    pins.pin(QStringLiteral("LocalHost"), 8000, b);
    pins.pin(QStringLiteral("::1"), 7001, c);
    pins.pin(QStringLiteral("127.0.0.1"), 8000, c);

    {
        // Another program start while this one still runs: the pins are already on disk.
        QSettings again(path, QSettings::IniFormat);
        TlsTrust::Pins read(again);
        QCOMPARE(read.fingerprint(QStringLiteral("127.0.0.1"), 7001), a);
        QCOMPARE(read.fingerprint(QStringLiteral("localhost"), 8000), b);
        QCOMPARE(read.fingerprint(QStringLiteral("::1"), 7001), c);
        QCOMPARE(read.fingerprint(QStringLiteral("[::1]"), 7001), c);
        QCOMPARE(read.fingerprint(QStringLiteral("127.0.0.1"), 8000), c);
        QVERIFY(read.fingerprint(QStringLiteral("127.0.0.1"), 7002).isEmpty());
        QVERIFY(read.fingerprint(QStringLiteral("127.0.0.2"), 7001).isEmpty());
        QStringList servers = read.servers();
        servers.sort();
        QCOMPARE(servers,
            QStringList({ QStringLiteral("127.0.0.1:7001"), QStringLiteral("127.0.0.1:8000"),
                QStringLiteral("[::1]:7001"), QStringLiteral("localhost:8000") }));

        read.forget(QStringLiteral("LOCALHOST"), 8000);
    }
    {
        QSettings again(path, QSettings::IniFormat);
        TlsTrust::Pins read(again);
        QVERIFY(read.fingerprint(QStringLiteral("localhost"), 8000).isEmpty());
        QCOMPARE(read.servers().size(), 3);
        read.forgetAll();
    }
    QSettings later(path, QSettings::IniFormat);
    QVERIFY(TlsTrust::Pins(later).servers().isEmpty());
    QVERIFY(TlsTrust::Pins(later).fingerprint(QStringLiteral("127.0.0.1"), 7001).isEmpty());
    // Forgetting the pins leaves the other settings alone.
    QCOMPARE(later.value(QStringLiteral("vms/base")).toString(), QStringLiteral("https://127.0.0.1:7001"));
}

void TestTlsTrust::selfSignedAskedThenPinned()
{
    QSettings settings(m_dir.filePath(QStringLiteral("asked.ini")), QSettings::IniFormat);
    TlsTrust::Pins pins(settings);
    QNetworkAccessManager manager; // one for the server, as a server client has
    auto first = std::make_unique<TestServer>(m_certs.selfSigned.tls());
    QVERIFY(first->isListening());
    first->setDefault({ 200, "{\"hello\":1}" });
    const QUrl url(first->base() + QStringLiteral("/api/statistics"));
    QCOMPARE(url.scheme(), QStringLiteral("https"));

    const Outcome asked = fetch(manager, pins, url);
    QVERIFY(asked.sslErrorsRaised);
    QCOMPARE(asked.decision.verdict, Decision::Ask);
    QCOMPARE(asked.decision.certificate.fingerprint, openSslFingerprint(m_certs.selfSigned));
    QVERIFY2(asked.decision.reason.contains(QLatin1String("self-signed")), qPrintable(asked.decision.reason));
    QVERIFY(!kinds(asked.errors).contains(QSslError::HostNameMismatch));
    QCOMPARE(asked.error, QNetworkReply::SslHandshakeFailedError);

    // The operator trusts it.
    pins.pin(url.host(), url.port(), asked.decision.certificate.fingerprint);
    const Outcome pinned = fetch(manager, pins, url);
    QVERIFY(pinned.sslErrorsRaised);
    QCOMPARE(pinned.decision.verdict, Decision::Accept);
    QCOMPARE(kinds(pinned.decision.ignore), kinds(pinned.errors));
    QCOMPARE(pinned.error, QNetworkReply::NoError);
    QCOMPARE(pinned.status, 200);
    QCOMPARE(pinned.body, QByteArray("{\"hello\":1}"));
    // Only the trusted connection carried a request.
    QCOMPARE(first->requestCount(), size_t(1));

    // Another certificate on the same port.
    const int port = first->port();
    first.reset();
    TestServer second(m_certs.otherSelfSigned.tls(), port);
    QVERIFY(second.isListening());
    const Outcome changed = fetch(manager, pins, url);
    QVERIFY(changed.sslErrorsRaised);
    QCOMPARE(changed.decision.verdict, Decision::Refuse);
    const QString reason = changed.decision.reason;
    QVERIFY2(reason.contains(openSslFingerprint(m_certs.selfSigned)), qPrintable(reason));
    QVERIFY2(reason.contains(openSslFingerprint(m_certs.otherSelfSigned)), qPrintable(reason));
    QCOMPARE(changed.error, QNetworkReply::SslHandshakeFailedError);
    QCOMPARE(second.requestCount(), size_t(0));
    QCOMPARE(pins.fingerprint(url.host(), url.port()), openSslFingerprint(m_certs.selfSigned));
}

void TestTlsTrust::authorityIssuedRaisesNoErrors()
{
    QSettings settings(m_dir.filePath(QStringLiteral("authority.ini")), QSettings::IniFormat);
    TlsTrust::Pins pins(settings);
    TestServer server(m_certs.issued.tls());
    QVERIFY(server.isListening());
    for (const QString &host : { QStringLiteral("127.0.0.1"), QStringLiteral("localhost") }) {
        QNetworkAccessManager manager;
        const QUrl url(QStringLiteral("https://%1:%2/").arg(host).arg(server.port()));
        const Outcome trusted = fetch(manager, pins, url, { m_certs.authority.sslCertificate() });
        QVERIFY2(!trusted.sslErrorsRaised, qPrintable(host));
        QCOMPARE(trusted.error, QNetworkReply::NoError);
        QCOMPARE(trusted.status, 200);
    }

    // Without the authority its certificates are asked about, as a self-signed one is.
    QNetworkAccessManager manager;
    const Outcome unknown = fetch(manager, pins, QUrl(server.base()));
    QCOMPARE(unknown.decision.verdict, Decision::Ask);
    QVERIFY(kinds(unknown.errors).contains(QSslError::UnableToGetLocalIssuerCertificate));
    QCOMPARE(server.requestCount(), size_t(2));
}

void TestTlsTrust::brokenCertificatesRefused_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<bool>("authorityTrusted");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("words");
    const QString expiredOn = QStringLiteral("expired on ") + minute(m_certs.expired.sslCertificate().expiryDate());
    QTest::newRow("expired, of a trusted authority")
        << "expired" << true << int(QSslError::CertificateExpired) << expiredOn;
    QTest::newRow("expired, pinned") << "expired" << false << int(QSslError::CertificateExpired) << expiredOn;
    QTest::newRow("other name, of a trusted authority")
        << "wrong host" << true << int(QSslError::HostNameMismatch) << "cameras.example.com";
    QTest::newRow("other name, pinned") << "wrong host" << false << int(QSslError::HostNameMismatch)
                                        << "cameras.example.com";
}

void TestTlsTrust::brokenCertificatesRefused()
{
    QFETCH(QString, certificate);
    QFETCH(bool, authorityTrusted);
    QFETCH(int, error);
    QFETCH(QString, words);
    QSettings settings(m_dir.filePath(QStringLiteral("broken.ini")), QSettings::IniFormat);
    TlsTrust::Pins pins(settings);
    pins.forgetAll();
    TestServer server(pair(certificate).tls());
    QVERIFY(server.isListening());
    const QUrl url(server.base());
    QList<QSslCertificate> authorities;
    if (authorityTrusted)
        authorities << m_certs.authority.sslCertificate();
    else
        pins.pin(url.host(), url.port(), openSslFingerprint(pair(certificate)));

    QNetworkAccessManager manager;
    const Outcome refused = fetch(manager, pins, url, authorities);
    QVERIFY(refused.sslErrorsRaised);
    if (authorityTrusted)
        QCOMPARE(kinds(refused.errors), QList<int> { error });
    else
        QVERIFY(kinds(refused.errors).contains(error));
    QCOMPARE(refused.decision.verdict, Decision::Refuse);
    QVERIFY2(refused.decision.reason.contains(words), qPrintable(refused.decision.reason));
    QCOMPARE(refused.error, QNetworkReply::SslHandshakeFailedError);
    QCOMPARE(server.requestCount(), size_t(0));
}

QTEST_GUILESS_MAIN(TestTlsTrust)
#include "tst_tlstrust.moc"
