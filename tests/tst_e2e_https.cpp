#include "app/notifier.h"
#include "app/startup.h"
#include "core/appstate.h"
#include "core/common.h"
#include "e2eshop.h"
#include "export/exportcontroller.h"
#include "net/certificatetrust.h"
#include "simdata.h"
#include "simprocess.h"
#include "testutil.h"
#include "vms/streamslist.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

/// The shop's servers over HTTPS with the simulator's own self-signed certificate: the real window asks
/// about it once per server, and once it is trusted the day's clip downloads byte for byte and an export
/// seals a package whose manifest names the certificate the data came through.
class TestE2eHttps : public E2eTest
{
    Q_OBJECT
private slots:
    void initTestCase();
    void loginTimelineAndExportOverHttps();

private:
    /// The certificate question is up for the server on port, showing the simulator's certificate; the
    /// operator trusts it.
    void trustWhenAsked(const SimProcess &sim, int port);

    Singletons m_singletons;
};

void TestE2eHttps::initTestCase()
{
    SimProcess::beforeStop() = closeServerConnections;
    shop::prepare(m_singletons, "UTC", { "ffmpeg" });
}

void TestE2eHttps::trustWhenAsked(const SimProcess &sim, int port)
{
    QObject *question = find("certificateQuestion");
    QVERIFY(question);
    QTRY_VERIFY_WITH_TIMEOUT(question->property("opened").toBool(), 20000);
    QCOMPARE(m_singletons.trust->server(), QStringLiteral("127.0.0.1:%1").arg(port));
    const QString shown = find("txtCertificate")->property("text").toString();
    QVERIFY2(
        !sim.certificateFingerprint().isEmpty() && shown.contains(sim.certificateFingerprint()), qPrintable(shown));
    click(find("btnTrustCertificate"));
    QTRY_VERIFY(!question->property("visible").toBool());
}

void TestE2eHttps::loginTimelineAndExportOverHttps()
{
    WorkDir dir;
    SimProcess sim;
    QVERIFY(shop::startServing(sim, dir, { "--tls" }));
    QVERIFY(sim.vmsBase().startsWith("https://"));

    QQmlApplicationEngine engine;
    openMainWindow(engine);
    QVERIFY(!QTest::currentTestFailed());
    typeInto("txtPosHost", sim.posBase());
    typeInto("txtHost", sim.vmsBase());
    typeInto("txtUsername", "admin");
    typeInto("txtPassword", "Pelmo4826");
    click(find("btnLogin"));

    // The video server's certificate: asked about, trusted, and the login goes on by itself.
    trustWhenAsked(sim, sim.vmsPort());
    QVERIFY(!QTest::currentTestFailed());
    QTRY_VERIFY_WITH_TIMEOUT(m_singletons.streamsList->rowCount() == 5, 20000);
    QCOMPARE(m_singletons.appState->base(), sim.vmsBase());
    QCOMPARE(m_singletons.trust->trustedCount(), 1);

    // The receipts of a camera's day come from the POS server, met here for the first time: its own
    // question, then the marks.
    const QString camera = m_singletons.streamsList->get(0).value("strmId").toString();
    QObject *list = find("lstStreams");
    list->setProperty("currentIndex", 0);
    trustWhenAsked(sim, sim.posPort());
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(m_singletons.trust->trustedCount(), 2);
    QObject *marks = find("receiptMarks");
    QTRY_VERIFY_WITH_TIMEOUT(
        !marks->property("isLoading").toBool() && marks->property("status").toString().isEmpty(), 20000);

    // A stretch of the camera's day downloaded, byte for byte the clip the server sends.
    QObject *api = find("recordingsList")->parent()->findChild<QObject *>("apiCall", Qt::FindDirectChildrenOnly);
    QVERIFY(api);
    const qulonglong noon = qulonglong(QDateTime::fromString(shop::Now, Qt::ISODate).toSecsSinceEpoch() - 3 * 3600);
    QVERIFY(QMetaObject::invokeMethod(api, "download", Q_ARG(QString, camera), Q_ARG(qulonglong, noon), Q_ARG(int, 60),
        Q_ARG(QString, dir.filePath("download.mkv"))));
    QTRY_VERIFY_WITH_TIMEOUT(!api->property("isDownloading").toBool(), 60000);
    QVERIFY(readFile(dir.filePath("download.mkv")) == readFile(dir.filePath("served.mkv")));

    // An export of a receipt of that camera, through the queue.
    const simdata::Site site = simdata::Site::generate(shop::config());
    PosData receipt;
    for (const PosData &candidate : parsePosResult(site.receiptsJson(site.select({})), camera)) {
        if (candidate.createdAt.toMSecsSinceEpoch() + 90000
            < QDateTime::fromString(shop::Now, Qt::ISODate).toMSecsSinceEpoch())
            receipt = candidate;
    }
    QVERIFY(receipt.createdAt.isValid());
    const QString video = dir.filePath("https export.mp4");
    QSignalSpy ended(m_singletons.exports, &ExportController::jobEnded);
    QVERIFY(m_singletons.exports->exportReceipt(receipt.createdAt, receipt.content, camera, "Camera", false, video));
    QVERIFY(ended.wait(180000));
    QCOMPARE(
        m_singletons.exports->job()->property("message").toString(), QStringLiteral("Export finished: %1").arg(video));

    QProcess check;
    check.setWorkingDirectory(dir.path());
    check.start("sha256sum", { "-c", "https export.sha256" });
    QVERIFY(check.waitForFinished(60000));
    const QByteArray checked = check.readAllStandardOutput() + check.readAllStandardError();
    QVERIFY2(check.exitCode() == 0 && checked.count(": OK\n") == 4, checked.constData());
    const QJsonObject transport = QJsonDocument::fromJson(readFile(dir.filePath("https export.manifest.json")))
                                      .object()
                                      .value("transport")
                                      .toObject();
    for (const char *server : { "vms", "pos" }) {
        const QJsonObject said = transport.value(server).toObject();
        QCOMPARE(said.value("scheme").toString(), QStringLiteral("https"));
        QCOMPARE(said.value("certificateSha256").toString(), sim.certificateFingerprint());
    }
}

QTEST_MAIN(TestE2eHttps)
#include "tst_e2e_https.moc"
