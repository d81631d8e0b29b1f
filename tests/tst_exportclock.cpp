#include "core/appstate.h"
#include "export/exportcontroller.h"
#include "pos/tillclocks.h"
#include "testserver.h"
#include "testutil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

const QString Camera = QStringLiteral("{cam-1}");
const QString Refund = QStringLiteral("*** REFUND ***\nCRÈME BRÛLÉE -5.00\nTOTAL -5.00");

QByteArray transaction(const QString &text, const QString &receivedAt, int till, const QStringList &cameras)
{
    QJsonArray streams;
    for (const QString &camera : cameras)
        streams.append(QJsonObject { { "nx_id", camera }, { "name", "Camera " + camera } });
    return QJsonDocument(QJsonObject { { "text", text }, { "received_at", receivedAt },
                             { "device",
                                 QJsonObject { { "id", till }, { "name", QStringLiteral("Till %1").arg(till) },
                                     { "streams", streams } } } })
        .toJson(QJsonDocument::Compact);
}

QByteArray body(const QList<QByteArray> &transactions)
{
    QByteArray all = "[";
    for (const QByteArray &one : transactions)
        all += (all.size() > 1 ? "," : "") + one;
    return all + "]";
}

/// A stand-in FFmpeg that keeps copies of its receipts track and chapters in STANDIN_DIR (FFmpeg's own
/// inputs go with the job), and writes a review copy.
const char kStandIn[]
    = "#!/bin/sh\n"
      "prev=\n"
      "for a in \"$@\"; do\n"
      "  case \"$a\" in *.srt) [ \"$prev\" = -i ] && cp \"$a\" \"$STANDIN_DIR/track.srt\";; esac\n"
      "  case \"$a\" in *chapters.txt) [ \"$prev\" = -i ] && cp \"$a\" \"$STANDIN_DIR/chapters.txt\";; "
      "esac\n"
      "  prev=\"$a\"; out=\"$a\"\n"
      "done\n"
      "printf 'ffmpeg version 9.9-test\\n' >&2\n"
      "printf 'review copy' > \"$out\"\n";

} // namespace

/// A till's clock offset in the export, end to end through the export the pages ask for: the window
/// around the receipt's time on the video's clock, the POS request that still finds every receipt of it,
/// the script, the text track and the chapters at the video's times, and the manifest with the time the
/// till sent and the offset. No offset, no change: the files as the export wrote them before offsets were.
class TestExportClock : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void noOffsetNoChange_data();
    void noOffsetNoChange();
    void offsetAppliedEndToEnd();

private:
    /// Runs the export of the receipt at createdAt on the video's clock, as the receipt box asks for it.
    ExportJob *exportReceipt(const QDateTime &createdAt, double tillClockOffsetMs);
    QString posRequest() const;

    ScopedTimeZone m_zone { "Europe/Berlin" };
    AppState m_state;
    QByteArray m_path;
    std::unique_ptr<QTemporaryDir> m_bin;
    std::unique_ptr<WorkDir> m_work;
    std::unique_ptr<TestServer> m_pos;
    std::unique_ptr<TestServer> m_vms;
    std::unique_ptr<TillClocks> m_clocks;
    std::unique_ptr<ExportController> m_controller;
};

void TestExportClock::initTestCase()
{
    m_path = qgetenv("PATH");
}

void TestExportClock::init()
{
    m_bin = std::make_unique<QTemporaryDir>();
    m_work = std::make_unique<WorkDir>();
    m_pos = std::make_unique<TestServer>();
    m_vms = std::make_unique<TestServer>();
    TestServer::Reply clip;
    clip.body = QByteArray(4096, 'c');
    clip.contentType = "video/x-matroska";
    m_vms->route("/hls/" + Camera.toStdString() + ".mkv", clip);
    m_state.setPosBase(m_pos->base());
    m_state.setBase(m_vms->base());
    m_state.setUser("admin");
    m_state.setPassword("pw");
    qputenv("STANDIN_DIR", QDir::currentPath().toLocal8Bit());
    QVERIFY(installStandIn(m_bin->path(), "ffmpeg", kStandIn, m_path));
    m_clocks = std::make_unique<TillClocks>();
    m_controller = std::make_unique<ExportController>();
    m_controller->setTillClocks(m_clocks.get());
}

void TestExportClock::cleanup()
{
    m_controller.reset();
    qputenv("PATH", m_path);
    m_pos.reset();
    m_vms.reset();
    m_work.reset();
    m_bin.reset();
}

ExportJob *TestExportClock::exportReceipt(const QDateTime &createdAt, double tillClockOffsetMs)
{
    QSignalSpy ended(m_controller.get(), &ExportController::jobEnded);
    if (!m_controller->exportReceipt(createdAt, Refund, Camera, "Till 2 Overhead", false,
            QUrl::fromLocalFile(m_work->filePath("refund.mp4")).toString(), tillClockOffsetMs)
        || (ended.isEmpty() && !ended.wait(20000)))
        return nullptr;
    return m_controller->job();
}

QString TestExportClock::posRequest() const
{
    return QString::fromStdString(m_pos->requests().back().target);
}

void TestExportClock::noOffsetNoChange_data()
{
    QTest::addColumn<QString>("tillId");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("asked");
    const QString window = "/poses/?received_at__range_after=2021-06-01T09:58:50.250Z"
                           "&received_at__range_before=2021-06-01T10:01:50.250Z";
    QTest::newRow("no offset set") << QString() << 0.0 << window;
    QTest::newRow("an offset set and taken back") << "2" << 0.0 << window;
    // A till that sent none of these: its receipts might be in the window, so it is asked for 45 s further.
    QTest::newRow("another till's offset") << "9" << 45.0
                                           << "/poses/?received_at__range_after=2021-06-01T09:58:50.250Z"
                                              "&received_at__range_before=2021-06-01T10:02:35.250Z";
}

void TestExportClock::noOffsetNoChange()
{
    QFETCH(QString, tillId);
    QFETCH(double, seconds);
    QFETCH(QString, asked);
    TestServer::Reply receipts;
    receipts.body = body({ transaction("MILK 1.00\nTOTAL 1.00", "2021-06-01T11:59:00+02:00", 1, { Camera }),
        transaction(Refund, "2021-06-01T10:00:20.250Z", 2, { Camera }),
        transaction("OTHER CAMERA", "2021-06-01T10:00:30Z", 1, { "{cam-2}" }),
        transaction("COFFEE {LARGE}\n\nTOTAL 2.00", "2021-06-01T10:01:10Z", 2, { "{cam-2}", Camera }) });
    m_pos->route("/poses/", receipts);
    if (!tillId.isEmpty()) {
        QVERIFY(m_clocks->setOffsetMs(tillId, "Till " + tillId, 12000));
        QVERIFY(m_clocks->setOffsetMs(tillId, "Till " + tillId, qint64(seconds * 1000)));
    }

    ExportJob *job = exportReceipt(QDateTime(QDate(2021, 6, 1), QTime(10, 0, 20, 250), Qt::UTC), 0);
    QVERIFY(job);
    QCOMPARE(job->state(), ExportJob::Done);
    QCOMPARE(posRequest(), asked);
    const QString before = QStringLiteral(TILLMARK_SOURCE_DIR "/tests/data/export-before-till-clocks/");
    QCOMPARE(readFile(m_work->filePath("refund.ass")), readFile(before + "script.ass"));
    QCOMPARE(readFile(m_work->filePath("track.srt")), readFile(before + "track.srt"));
    QCOMPARE(readFile(m_work->filePath("chapters.txt")), readFile(before + "chapters.txt"));
    QVERIFY(!readFile(before + "script.ass").isEmpty());
    const QJsonObject manifest = QJsonDocument::fromJson(readFile(m_work->filePath("refund.manifest.json"))).object();
    QCOMPARE(manifest["chosenReceipt"]["tillClockOffsetMs"].toDouble(), 0.0);
    for (const QJsonValue &receipt : manifest["receipts"].toArray())
        QCOMPARE(receipt["tillClockOffsetMs"].toDouble(), 0.0);
}

void TestExportClock::offsetAppliedEndToEnd()
{
    // Till 2's clock runs 20 s fast. The refund it sent as 10:00:20.250 happened at 10:00:00.250, the middle
    // of the window; its receipt sent as 10:01:45 happened inside the window, though sent after its end; its
    // receipt sent as 09:58:40 happened before the window.
    TestServer::Reply receipts;
    receipts.body = body({ transaction("MILK 1.00\nTOTAL 1.00", "2021-06-01T11:59:00+02:00", 1, { Camera }),
        transaction(Refund, "2021-06-01T10:00:20.250Z", 2, { Camera }),
        transaction("OTHER CAMERA", "2021-06-01T10:00:30Z", 1, { "{cam-2}" }),
        transaction("COFFEE {LARGE}\n\nTOTAL 2.00", "2021-06-01T10:01:10Z", 2, { "{cam-2}", Camera }),
        transaction("LATE TILL 2", "2021-06-01T10:01:45Z", 2, { Camera }),
        transaction("EARLY TILL 2", "2021-06-01T09:58:40Z", 2, { Camera }),
        transaction("LATE TILL 1", "2021-06-01T10:01:40Z", 1, { Camera }) });
    m_pos->route("/poses/", receipts);
    QVERIFY(m_clocks->setOffsetMs("2", "Till 2", 20000));

    ExportJob *job = exportReceipt(QDateTime(QDate(2021, 6, 1), QTime(10, 0, 0, 250), Qt::UTC), 20000);
    QVERIFY(job);
    QCOMPARE(job->state(), ExportJob::Done);

    // The window around the video's time; the receipts asked for reach 20 s beyond its end.
    QCOMPARE(posRequest(),
        "/poses/?received_at__range_after=2021-06-01T09:58:30.250Z"
        "&received_at__range_before=2021-06-01T10:01:50.250Z");
    const auto clips = m_vms->requests();
    const auto clip = std::find_if(
        clips.begin(), clips.end(), [](const TestServer::Recorded &r) { return r.path.rfind("/hls/", 0) == 0; });
    QVERIFY(clip != clips.end());
    QCOMPARE(clip->params.find("pos")->second, std::string("1622541510250"));
    QCOMPARE(clip->params.find("duration")->second, std::string("180"));

    // The refund at 1:30, where the video shows it, 20 s before the time its till printed.
    const QStringList events = QString::fromUtf8(readFile(m_work->filePath("refund.ass")))
                                   .split('\n')
                                   .filter(QRegularExpression("^Dialogue: "));
    QCOMPARE(events,
        QStringList({
            "Dialogue: 0,00:00:29.00,00:00:32.00,Default,,0,0,0,,MILK 1.00\\NTOTAL 1.00\\N",
            "Dialogue: 0,00:00:32.00,00:00:33.00,Default,,0,0,0,,TOTAL 1.00\\N",
            "Dialogue: 0,00:00:33.00,00:01:30.00,Default,,0,0,0,,",
            "Dialogue: 0,00:01:30.00,00:01:33.00,Default,,0,0,0,,*** REFUND ***\\NCRÈME BRÛLÉE -5.00\\NTOTAL -5.00\\N",
            "Dialogue: 0,00:01:33.00,00:01:34.00,Default,,0,0,0,,CRÈME BRÛLÉE -5.00\\NTOTAL -5.00\\N",
            "Dialogue: 0,00:01:34.00,00:01:35.00,Default,,0,0,0,,TOTAL -5.00\\N",
            "Dialogue: 0,00:01:35.00,00:02:19.00,Default,,0,0,0,,",
            "Dialogue: 0,00:02:19.00,00:02:22.00,Default,,0,0,0,,COFFEE \\{LARGE\\}\\N\\NTOTAL 2.00\\N",
            "Dialogue: 0,00:02:22.00,00:02:23.00,Default,,0,0,0,,\\NTOTAL 2.00\\N",
            "Dialogue: 0,00:02:23.00,00:02:24.00,Default,,0,0,0,,TOTAL 2.00\\N",
            "Dialogue: 0,00:02:24.00,00:02:54.00,Default,,0,0,0,,",
            "Dialogue: 0,00:02:54.00,00:02:57.00,Default,,0,0,0,,LATE TILL 2\\N",
        }));
    const QString joiner(QChar(0x2060));
    const QString blank(QChar(0xA0));
    QCOMPARE(QString::fromUtf8(readFile(m_work->filePath("track.srt"))),
        "1\n00:00:29,750 --> 00:01:30,000\nMILK 1.00\nTOTAL 1.00\n\n"
        "2\n00:01:30,000 --> 00:02:19,750\n*** REFUND ***\nCRÈME BRÛLÉE -5.00\nTOTAL -5.00\n\n"
        "3\n00:02:19,750 --> 00:02:54,750\nCOFFEE {"
            + joiner + "LARGE}\n" + blank
            + "\nTOTAL 2.00\n\n"
              "4\n00:02:54,750 --> 00:03:00,000\nLATE TILL 2\n\n");
    // Chapters titled with the local times the video shows.
    QCOMPARE(QString::fromUtf8(readFile(m_work->filePath("chapters.txt"))),
        ";FFMETADATA1\n"
        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=29750\ntitle=Start of the clip\n"
        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=29750\nEND=90000\ntitle=11:59:00 MILK 1.00\n"
        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=90000\nEND=139750\ntitle=12:00:00 *** REFUND ***\n"
        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=139750\nEND=174750\ntitle=12:00:50 COFFEE {LARGE}\n"
        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=174750\nEND=180000\ntitle=12:01:25 LATE TILL 2\n");

    // The manifest: the window on the video's clock, each receipt's time as the POS server wrote it, and
    // the offset taken off it.
    const QJsonObject manifest = QJsonDocument::fromJson(readFile(m_work->filePath("refund.manifest.json"))).object();
    QCOMPARE(manifest["window"]["startUtc"].toString(), "2021-06-01T09:58:30.250Z");
    QCOMPARE(manifest["window"]["endUtc"].toString(), "2021-06-01T10:01:30.250Z");
    QCOMPARE(manifest["chosenReceipt"]["receivedAt"].toString(), "2021-06-01T10:00:20.250Z");
    QCOMPARE(manifest["chosenReceipt"]["tillClockOffsetMs"].toDouble(), 20000.0);
    QCOMPARE(manifest["chosenReceipt"]["text"].toString(), Refund);
    QStringList kept;
    for (const QJsonValue &receipt : manifest["receipts"].toArray()) {
        kept << QStringLiteral("%1 %2 %3")
                    .arg(receipt["receivedAt"].toString())
                    .arg(receipt["tillClockOffsetMs"].toDouble())
                    .arg(receipt["text"].toString().section('\n', 0, 0));
    }
    QCOMPARE(kept,
        QStringList({ "2021-06-01T11:59:00+02:00 0 MILK 1.00", "2021-06-01T10:00:20.250Z 20000 *** REFUND ***",
            "2021-06-01T10:01:10Z 20000 COFFEE {LARGE}", "2021-06-01T10:01:45Z 20000 LATE TILL 2" }));
}

QTEST_GUILESS_MAIN(TestExportClock)
#include "tst_exportclock.moc"
