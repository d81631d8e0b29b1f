#include "app/startup.h"
#include "e2e.h"
#include "pos/possearching.h"
#include "simprocess.h"
#include "testutil.h"
#include "vms/recordingslist.h"
#include "vms/streamslist.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QLineEdit>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QtTest>

#include <cmath>

/// Takes the URLs the program asks the desktop to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
};

/// Both jobs with the keyboard alone, against the simulated servers and the real FFmpeg: log in, pick a
/// camera and yesterday, type five minutes and download them (keeping the offered file after the question
/// about the old one), cancel a longer download, search the receipts and export one, log out.
class TestE2eKeyboard : public E2eTest
{
    Q_OBJECT
private slots:
    void initTestCase();
    void loginToDownloadAndExport();

private:
    Singletons m_singletons;
};

void TestE2eKeyboard::initTestCase()
{
    SimProcess::beforeStop() = closeServerConnections;
    // The timeline's day is the machine's; the simulator, a child, takes the same zone.
    qputenv("TZ", "UTC");
    tzset();
    QVERIFY2(!QStandardPaths::findExecutable("ffprobe").isEmpty(), "ffprobe reads the files");
    QVERIFY2(!QStandardPaths::findExecutable("ffmpeg").isEmpty(), "FFmpeg renders the clips and makes the export");
    m_singletons = createSingletons();
    registerQmlTypes(m_singletons);
}

void TestE2eKeyboard::loginToDownloadAndExport()
{
#ifndef TILLMARK_WIDGETS_APPLICATION
    QSKIP("drives the Widgets save dialog");
#else
    WorkDir dir;
    SimProcess sim;
    QVERIFY(sim.start({ "--seed", "5", "--days", "2" }));
    UrlRecorder opened;
    QDesktopServices::setUrlHandler("file", &opened, "open");

    QQmlApplicationEngine engine;
    openMainWindow(engine);
    QVERIFY(!QTest::currentTestFailed());

    // Log in: the cursor starts in the first field; Return in the last one logs in.
    QCOMPARE(focused(), find("txtPosHost"));
    press(Qt::Key_A, Qt::ControlModifier);
    type(QStringLiteral("127.0.0.1:%1").arg(sim.posPort()));
    press(Qt::Key_Tab);
    press(Qt::Key_A, Qt::ControlModifier);
    type(QStringLiteral("127.0.0.1:%1").arg(sim.vmsPort()));
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    QCOMPARE(focused(), find("txtPassword"));
    press(Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(
        m_singletons.streamsList->rowCount() == 5 && !m_singletons.streamsList->isLoading(), 20000);

    // The camera that records around the clock, with the arrow keys.
    int row = 0;
    while (m_singletons.streamsList->get(row).value("strmName") != "Car Park")
        ++row;
    QObject *cameras = find("lstStreams");
    QTRY_VERIFY(cameras->property("activeFocus").toBool());
    for (int i = 0; i <= row; ++i)
        press(Qt::Key_Down);
    QCOMPARE(cameras->property("currentIndex").toInt(), row);
    auto *recordings = qobject_cast<RecordingsList *>(find("recordingsList"));
    QSignalSpy loaded(recordings, &RecordingsList::loadingFinished);

    // Yesterday, a whole day of recordings: the day before on the calendar, taken with Return.
    tabTo("datePicker");
    press(Qt::Key_Space);
    QTRY_VERIFY(find("calendar")->property("activeFocus").toBool());
    press(Qt::Key_Left);
    press(Qt::Key_Return);
    const QDate yesterday = QDate::currentDate().addDays(-1);
    QTRY_COMPARE(find("datePicker")->property("selectedDate").toDate(), yesterday);
    QTRY_VERIFY_WITH_TIMEOUT(loaded.count() > 0 && recordings->count() > 0, 20000);

    // 10:00 to 10:05 in the time fields, then "Download": the dialog offers "download.mkv" here and asks
    // before it replaces the one already there. "No" leaves it as it was.
    QVERIFY(writeFile("download.mkv", "an earlier clip"));
    tabTo("txtStart");
    type("10:00");
    press(Qt::Key_Tab);
    type("10:05");
    press(Qt::Key_Tab);
    QCOMPARE(focused(), find("btnDownload"));
    press(Qt::Key_Space);
    QLineEdit *name = saveDialogName();
    QVERIFY(name);
    QCOMPARE(name->text(), QString("download.mkv"));
    QCOMPARE(QFileInfo(shownFileDialog()->directory().absolutePath()).canonicalFilePath(),
        QFileInfo(dir.path()).canonicalFilePath());
    answerNextMessageBox(Qt::Key_N);
    QTest::keyClick(name, Qt::Key_Return);
    QTRY_VERIFY(QApplication::activeModalWidget() == shownFileDialog());
    QCOMPARE(readFile("download.mkv"), QByteArray("an earlier clip"));
    answerNextMessageBox(Qt::Key_Y);
    acceptSaveDialog(name);

    // The clip is there, and the box that says so opens its folder.
    QObject *done = find("popDownloaded");
    QTRY_VERIFY_WITH_TIMEOUT(done->property("opened").toBool(), 240000);
    const QString clipPath = QFileInfo(dir.filePath("download.mkv")).absoluteFilePath();
    QCOMPARE(find("lblDownloaded")->property("text").toString(), "Saved to " + clipPath);
    const ProbeResult clip = probe(clipPath);
    QVERIFY2(clip.formatName.contains("matroska"), qPrintable(clip.formatName));
    QCOMPARE(clip.duration, 300.0);
    QCOMPARE(focused(), find("btnOpenFolder"));
    press(Qt::Key_Space);
    QCOMPARE(opened.urls, QList<QUrl>({ QUrl::fromLocalFile(QFileInfo(clipPath).absolutePath()) }));
    QTRY_VERIFY(!done->property("visible").toBool());

    // Two hours into another file, cancelled once it has begun: the unfinished file goes.
    tabTo("txtEnd");
    type("12:00");
    tabTo("btnDownload");
    press(Qt::Key_Space);
    name = saveDialogName();
    QVERIFY(name);
    QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(name, "long.mkv");
    acceptSaveDialog(name);
    QObject *progress = find("txtDownload");
    QTRY_VERIFY_WITH_TIMEOUT(progress->property("text").toString().contains("MB/"), 60000);
    QVERIFY(QFile::exists("long.mkv"));
    QCOMPARE(focused(), find("btnCancelDownload"));
    press(Qt::Key_Space);
    QObject *message = find("popMessage");
    QTRY_VERIFY(message->property("opened").toBool());
    QCOMPARE(message->property("message").toString(),
        QStringLiteral("The download was cancelled and the unfinished file \"%1\" removed.")
            .arg(QFileInfo("long.mkv").absoluteFilePath()));
    QVERIFY(!QFile::exists("long.mkv"));
    QCOMPARE(focused(), find("popMessageClose"));
    press(Qt::Key_Space);
    QTRY_VERIFY(!message->property("visible").toBool());

    // The receipts: Ctrl+Tab, Ctrl+F, the search text and Return.
    QObject *pages = find("stackView");
    press(Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(pages->property("currentIndex").toInt(), 1);
    press(Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(focused(), find("txtText"));
    type("coffee");
    press(Qt::Key_Return);
    auto *model = qobject_cast<PosSearching *>(find("posSearching"));
    QTRY_VERIFY_WITH_TIMEOUT(model->rowCount() > 10 && !model->isLoading(), 20000);
    QCOMPARE(find("lblCount")->property("text").toString(), QStringLiteral("%1 receipts").arg(model->rowCount()));

    // The newest receipt whose three minutes have been recorded, opened with the arrow keys and Return.
    const qint64 recorded = QDateTime::currentMSecsSinceEpoch() - 120000;
    int receipt = 0;
    while (model->data(model->index(receipt), PosSearching::CreatedAtRole).toDateTime().toMSecsSinceEpoch() + 90000
        > recorded)
        ++receipt;
    tabTo("lstResult");
    for (int i = 0; i <= receipt; ++i)
        press(Qt::Key_Down);
    QCOMPARE(find("lstResult")->property("currentIndex").toInt(), receipt);
    press(Qt::Key_Return);
    QObject *detail = find("popDetail");
    QTRY_VERIFY(detail->property("opened").toBool());

    // Its export, into a file named in the save dialog.
    tabTo("btnExport");
    press(Qt::Key_Space);
    name = saveDialogName();
    QVERIFY(name);
    const QString exported = dir.filePath("receipt.mp4");
    QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(name, exported);
    acceptSaveDialog(name);
    QObject *exporting = find("downloading");
    QTRY_VERIFY_WITH_TIMEOUT(exporting->property("visible").toBool(), 20000);

    QTRY_VERIFY_WITH_TIMEOUT(!exporting->property("visible").toBool(), 180000);
    QVERIFY2(!message->property("visible").toBool(), qPrintable(message->property("message").toString()));
    const ProbeResult video = probe(exported);
    QVERIFY2(std::abs(video.duration - 180) < 1, qPrintable(QString::number(video.duration)));
    // The end of the export says where it went; Escape puts it away.
    QObject *exportDone = find("exportDone");
    QTRY_VERIFY(exportDone->property("opened").toBool());
    QCOMPARE(focused(), find("btnExportOpenFolder"));
    press(Qt::Key_Escape);
    QTRY_VERIFY(!exportDone->property("visible").toBool());

    // Log out: back on the login page with the servers and the user kept, the cursor in the empty
    // password field.
    press(Qt::Key_1, Qt::ControlModifier);
    QCOMPARE(pages->property("currentIndex").toInt(), 0);
    tabTo("btnLogOut");
    press(Qt::Key_Space);
    QTRY_VERIFY(find("btnLogin"));
    QCOMPARE(find("txtPosHost")->property("text").toString(), QStringLiteral("127.0.0.1:%1").arg(sim.posPort()));
    QCOMPARE(find("txtHost")->property("text").toString(), QStringLiteral("127.0.0.1:%1").arg(sim.vmsPort()));
    QCOMPARE(find("txtPassword")->property("text").toString(), QString());
    QTRY_COMPARE(focused(), find("txtPassword"));
    QVERIFY(sim.stop());
#endif
}

QTEST_MAIN(TestE2eKeyboard)
#include "tst_e2e_keyboard.moc"
