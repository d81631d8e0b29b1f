#include "app/startup.h"
#include "core/common.h"
#include "e2eshop.h"
#include "export/exportcontroller.h"
#include "export/exportqueue.h"
#include "pos/posdownloader.h"
#include "pos/possearching.h"
#include "simdata.h"
#include "simoptions.h"
#include "simprocess.h"
#include "testutil.h"
#include "vms/streamslist.h"

#include <QDir>
#ifdef TILLMARK_WIDGETS_APPLICATION
#include <QFileDialog>
#include <QLineEdit>
#endif
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QtTest>

namespace {

const QString SearchText = QStringLiteral("coffee");

} // namespace

/// Many exports from end to end, against the simulated servers and the real FFmpeg: three receipts
/// chosen in the result list, each from its two cameras, into one folder through the queue; the
/// receipts then marked as exported and asked about before they are exported again; and the window
/// closed while a second batch runs, which cancels it without a file left behind.
class TestE2eQueue : public E2eTest
{
    Q_OBJECT
private slots:
    void initTestCase();
    void threeReceiptsTwoCamerasOneFolder();

private:
    /// The delegate of a row of the result list, scrolled into view.
    QQuickItem *resultRow(int row);

    Singletons m_singletons;
};

void TestE2eQueue::initTestCase()
{
    SimProcess::beforeStop() = closeServerConnections;
    // sha256sum checks the packages.
    shop::prepare(m_singletons, "UTC", { "ffmpeg", "sha256sum" });
}

QQuickItem *TestE2eQueue::resultRow(int row)
{
    QObject *list = find("lstResult");
    QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, row), Q_ARG(int, 4 /* ListView.Contain */));
    QQuickItem *delegate = nullptr;
    QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, delegate), Q_ARG(int, row));
    return delegate;
}

void TestE2eQueue::threeReceiptsTwoCamerasOneFolder()
{
    WorkDir dir;
    const simdata::Config config = shop::config();
    const simdata::Site site = simdata::Site::generate(config);
    SimProcess sim;
    QVERIFY(shop::startServing(sim, dir));

    QQmlApplicationEngine engine;
    openMainWindow(engine);
    QVERIFY(!QTest::currentTestFailed());
    logIn(sim.posPort(), sim.vmsPort(), "admin", "Pelmo4826");
    QVERIFY(!QTest::currentTestFailed());
    QTRY_VERIFY_WITH_TIMEOUT(find("stackView"), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_singletons.streamsList->property("isLoading").toBool(), 20000);
    waitForPageStack();
    QVERIFY(!QTest::currentTestFailed());
    // The queue from the recordings page, by the keyboard: empty yet.
    press(Qt::Key_J, Qt::ControlModifier);
    QObject *panel = find("queuePanel");
    QTRY_VERIFY(panel->property("opened").toBool());
    QCOMPARE(find("lblQueueSummary")->property("text").toString(), QString("Nothing exported yet in this session."));
    press(Qt::Key_Escape);
    QTRY_VERIFY(!panel->property("visible").toBool());
    QCOMPARE(find("stackView")->property("currentIndex").toInt(), 0);

    press(Qt::Key_2, Qt::ControlModifier); // the receipts
    QTRY_COMPARE(find("stackView")->property("currentIndex").toInt(), 1);
    auto *pages = qvariant_cast<QQuickItem *>(find("stackView")->property("contentItem"));
    QVERIFY(pages);
    // The page slides into place.
    QTRY_COMPARE(pages->property("contentX").toDouble(), find("stackView")->property("width").toDouble());

    typeInto("txtText", SearchText);
    click(find("btnSearch"));
    auto *model = qobject_cast<PosSearching *>(find("posSearching"));
    QVERIFY(model);
    QTRY_VERIFY2_WITH_TIMEOUT(
        model->rowCount() > 10, qPrintable(find("popMessage")->property("message").toString()), 20000);
    QTRY_VERIFY(!find("popLoading")->property("visible").toBool());

    // Three receipts seen by two cameras each, their windows over before the reference time.
    QList<int> chosen;
    for (int row = 0; row < model->rowCount() && chosen.size() < 3; ++row) {
        const PosData receipt = model->recordAt(row);
        if (receipt.streams.size() == 2 && receipt.createdAt.toMSecsSinceEpoch() + 90000 < config.nowMs - 60000)
            chosen << row;
    }
    QCOMPARE(chosen.size(), 3);

    // Ctrl and a click on each: chosen, not opened.
    for (int row : chosen) {
        QQuickItem *delegate = resultRow(row);
        QVERIFY(delegate);
        click(delegate, Qt::ControlModifier);
        QTRY_VERIFY(delegate->property("selected").toBool());
    }
    QVERIFY(!find("popDetail")->property("visible").toBool());
    QCOMPARE(find("lblSelected")->property("text").toString(), QString("3 selected"));

    // "Export selected…": each receipt's own cameras (the first choice), into one folder.
    const QString folder = dir.filePath("evidence");
    QVERIFY(QDir().mkpath(folder));
    click(find("btnExportSelected"));
    QObject *batch = find("popBatch");
    QTRY_VERIFY(batch->property("opened").toBool());
    QVERIFY(find("rbOwnCameras")->property("checked").toBool());
    QCOMPARE(find("lblBatchCount")->property("text").toString(), QString("6 videos, each with its evidence package"));
#ifdef TILLMARK_WIDGETS_APPLICATION
    // The folder chosen in the dialog, which opens on the folder the field suggests.
    const QString suggested = find("txtBatchFolder")->property("text").toString();
    click(find("btnBatchFolder"));
    QFileDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = shownFileDialog()) != nullptr);
    QCOMPARE(QDir(dialog->directory()).canonicalPath(), QDir(suggested).canonicalPath());
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(name);
    name->setText(folder);
    acceptSaveDialog(name);
    QTRY_COMPARE(
        QDir(find("txtBatchFolder")->property("text").toString()).canonicalPath(), QDir(folder).canonicalPath());
#else
    typeInto("txtBatchFolder", folder);
#endif
    click(find("btnBatchExport"));
    QTRY_VERIFY(!batch->property("visible").toBool());

    // The queue shows the six, and they run one after the other to the end.
    QTRY_VERIFY(panel->property("opened").toBool());
    ExportQueue *queue = m_singletons.exports->queue();
    QCOMPARE(queue->rowCount(), 6);
    QCOMPARE(find("btnQueue")->property("text").toString(), QString("Exports (6)"));
    QTRY_VERIFY_WITH_TIMEOUT(queue->pendingCount() == 0, 600000);
    QCOMPARE(queue->doneCount(), 6);
    QCOMPARE(find("btnQueue")->property("text").toString(), QString("Exports"));
    QVERIFY2(!find("popMessage")->property("visible").toBool(),
        qPrintable(find("popMessage")->property("message").toString()));

    // Six whole packages in the one folder, each intact by sha256sum, each script holding the receipts
    // of its own window and camera and no other.
    QStringList videos;
    QString batchId;
    for (int job = 0; job < 6; ++job) {
        const ExportJob *export_ = queue->jobAt(job);
        const PosData receipt = model->recordAt(chosen.at(job / 2));
        const StreamData &camera = receipt.streams.at(job % 2);
        QCOMPARE(export_->order().receipt.createdAt, receipt.createdAt);
        QCOMPARE(export_->order().camera.id, camera.id);
        const PackagePaths &paths = export_->paths();
        QCOMPARE(QFileInfo(paths.video).absolutePath(), folder);
        const QDateTime start = receipt.createdAt.toUTC().addSecs(-90);
        QCOMPARE(QFileInfo(paths.video).fileName(),
            QStringLiteral("%1-%2-%3.mp4")
                .arg(camera.name, start.toString("yyyyMMdd_HHmmss"), start.addSecs(180).toString("yyyyMMdd_HHmmss")));
        videos << paths.video;

        QProcess check;
        check.setWorkingDirectory(folder);
        check.start("sha256sum", { "-c", QFileInfo(paths.checksums).fileName() });
        QVERIFY(check.waitForFinished(60000));
        const QByteArray checked = check.readAllStandardOutput() + check.readAllStandardError();
        QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0 && checked.count(": OK\n") == 4,
            checked.constData());

        simdata::ReceiptQuery window;
        window.receivedFromMs = receipt.createdAt.toMSecsSinceEpoch() - 90000;
        window.receivedToMs = receipt.createdAt.toMSecsSinceEpoch() + 90000;
        const QList<PosData> watched = parsePosResult(site.receiptsJson(site.select(window)), camera.id);
        QVERIFY(!watched.isEmpty());
        QCOMPARE(QString::fromUtf8(readFile(paths.script)), _convertToAss(start, watched));

        const QJsonObject manifest = QJsonDocument::fromJson(readFile(paths.manifest)).object();
        batchId = job == 0 ? manifest["batch"]["id"].toString() : batchId;
        QVERIFY(!batchId.isEmpty());
        QCOMPARE(manifest["batch"]["id"].toString(), batchId);
        QCOMPARE(manifest["batch"]["size"].toInt(), 6);
        QCOMPARE(manifest["batch"]["place"].toInt(), job + 1);
    }
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 6 * 5);

    // The panel's rows say so, each with its path.
    QObject *list = find("lstQueue");
    int rowsSeen = 0;
    for (int job = 0; job < 6; ++job) {
        QQuickItem *row = nullptr;
        QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, row), Q_ARG(int, job));
        if (!row)
            continue; // out of view
        ++rowsSeen;
        QCOMPARE(findNamed(row, "lblJobState")->property("text").toString(), QString("done"));
        QCOMPARE(findNamed(row, "txtJobPath")->property("text").toString(), videos.at(job));
        QVERIFY(findNamed(row, "txtJobPath")->property("visible").toBool());
        QVERIFY(findNamed(row, "btnJobOpenFolder")->property("visible").toBool());
        QVERIFY(!findNamed(row, "btnJobCancel")->property("visible").toBool());
        QVERIFY(!findNamed(row, "btnJobRetry")->property("visible").toBool());
    }
    QVERIFY(rowsSeen > 0);
    click(find("btnQueueClose"));
    QTRY_VERIFY(!panel->property("visible").toBool());

    // The three rows are marked, and exporting them again is asked about first.
    for (int row : chosen)
        QVERIFY(findNamed(resultRow(row), "lblExported")->property("visible").toBool());
    click(find("btnExportSelected"));
    QObject *again = find("popAgain");
    QTRY_VERIFY(again->property("opened").toBool());
    QVERIFY(!batch->property("visible").toBool());
    QVERIFY(!find("btnAgainSkip")->property("visible").toBool()); // all of them were exported
    click(find("btnAgainYes"));
    QTRY_VERIFY(batch->property("opened").toBool());

    // Again into another folder; the window closed while they run asks, and cancelling leaves nothing.
    const QString second = dir.filePath("second");
    QVERIFY(QDir().mkpath(second));
    typeInto("txtBatchFolder", second);
    click(find("btnBatchExport"));
    QTRY_VERIFY(!batch->property("visible").toBool());
    QCOMPARE(queue->rowCount(), 12);
    QVERIFY(queue->pendingCount() > 0);
    m_window->close();
    QObject *leave = find("popLeave");
    QTRY_VERIFY(leave->property("opened").toBool());
    QVERIFY(m_window->isVisible());
    click(find("btnLeaveKeep"));
    QTRY_VERIFY(!leave->property("visible").toBool());
    QVERIFY(m_window->isVisible());
    QVERIFY(queue->pendingCount() > 0);
    m_window->close();
    QTRY_VERIFY(leave->property("opened").toBool());
    click(find("btnLeaveCancel"));
    QTRY_VERIFY(!m_window->isVisible());
    QCOMPARE(queue->pendingCount(), 0);
    for (int job = 6; job < 12; ++job)
        QCOMPARE(queue->jobAt(job)->state(), ExportJob::Cancelled);
    QCOMPARE(QDir(second).entryList(QDir::Files | QDir::Hidden), QStringList());
    // The first folder is as it was.
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 6 * 5);
    QVERIFY(sim.stop());
}

QTEST_MAIN(TestE2eQueue)
#include "tst_e2e_queue.moc"
