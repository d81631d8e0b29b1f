#include "app/startup.h"
#include "core/common.h"
#include "e2eshop.h"
#include "exceptions/exceptionsearch.h"
#include "exceptions/flaggedreceipts.h"
#include "export/exportpackage.h"
#include "pos/tillclocks.h"
#include "simdata.h"
#include "simprocess.h"
#include "testutil.h"
#include "vms/streamslist.h"

#ifdef TILLMARK_WIDGETS_APPLICATION
#include <QLineEdit>
#endif
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSet>
#include <QtTest>

/// The Exceptions tab in the real window, against the simulated servers and the real FFmpeg: two days
/// searched find the simulator's refunds, voids and no-sales; the fast till's clock set in the Tills
/// dialog moves its flagged receipt on the timeline and in its export, whose manifest keeps the till's
/// own time beside the offset.
class TestE2eExceptionsTab : public E2eTest
{
    Q_OBJECT
private slots:
    void initTestCase();
    void findShowAndExportWithTheTillsOffset();

private:
    /// The item of row in a ListView, once it is made.
    QQuickItem *rowItem(const QString &list, int row);
    /// Ctrl+3, and waits for the tab to have slid into the window.
    void showExceptionsTab();
    /// Clicks the button of a row, once the row has been laid out whole within the window.
    void clickInWindow(QQuickItem *row, const QString &button);

    Singletons m_singletons;
};

void TestE2eExceptionsTab::initTestCase()
{
    SimProcess::beforeStop() = closeServerConnections;
    shop::prepare(m_singletons, "Europe/Paris", { "ffmpeg", "sha256sum" });
}

QQuickItem *TestE2eExceptionsTab::rowItem(const QString &list, int row)
{
    QQuickItem *item = nullptr;
    QObject *view = find(list);
    QMetaObject::invokeMethod(view, "positionViewAtIndex", Q_ARG(int, row), Q_ARG(int, 0));
    const bool made = QTest::qWaitFor(
        [&] {
            QMetaObject::invokeMethod(view, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, item), Q_ARG(int, row));
            return item != nullptr;
        },
        5000);
    return made ? item : nullptr;
}

void TestE2eExceptionsTab::showExceptionsTab()
{
    press(Qt::Key_3, Qt::ControlModifier);
    QTRY_COMPARE(find("stackView")->property("currentIndex").toInt(), 2);
    // The pages slide: the tab is in place once its left edge is the window's.
    auto *page = qobject_cast<QQuickItem *>(find("pageExceptions"));
    QVERIFY(page);
    QTRY_VERIFY(std::abs(page->mapToScene(QPointF(0, 0)).x()) < 1 && !polishPending(page));
}

void TestE2eExceptionsTab::clickInWindow(QQuickItem *row, const QString &button)
{
    auto *item = qobject_cast<QQuickItem *>(findNamed(row, button));
    QVERIFY(item);
    const QRectF window(QPointF(0, 0), m_window->size());
    QTRY_VERIFY(!polishPending(row) && window.contains(item->mapRectToScene(item->boundingRect())));
    click(item);
}

void TestE2eExceptionsTab::findShowAndExportWithTheTillsOffset()
{
#ifndef TILLMARK_WIDGETS_APPLICATION
    QSKIP("drives the Widgets save dialog");
#else
    WorkDir dir;
    const simdata::Site site = simdata::Site::generate(shop::config());
    SimProcess sim;
    QVERIFY(shop::startServing(sim, dir));
    QQmlApplicationEngine engine;
    openMainWindow(engine);
    QVERIFY(!QTest::currentTestFailed());
    logIn(sim.posPort(), sim.vmsPort(), "admin", "Pelmo4826");
    QVERIFY(!QTest::currentTestFailed());
    QTRY_VERIFY_WITH_TIMEOUT(find("lstStreams") && m_singletons.streamsList->rowCount() == 5
            && !m_singletons.streamsList->isLoading() && !find("popStreamsLoading")->property("visible").toBool(),
        20000);
    waitForPageStack();

    // Ctrl+3, the shop's two days, Search.
    showExceptionsTab();
    QVERIFY(!QTest::currentTestFailed());
    const QDate first(2025, 11, 4), last(2025, 11, 5);
    find("dayExceptionsFrom")->setProperty("selectedDate", QDateTime(first, QTime(0, 0)));
    find("dayExceptionsTo")->setProperty("selectedDate", QDateTime(last, QTime(0, 0)));
    auto *search = qobject_cast<ExceptionSearch *>(find("exceptionSearch"));
    click(find("btnExceptionsSearch"));
    QTRY_VERIFY_WITH_TIMEOUT(search->hasRun() && !search->isRunning(), 60000);
    QCOMPARE(search->dayCount(), 2);
    QVERIFY2(search->failedDays().isEmpty(), qPrintable(search->failedDays().join('\n')));

    // The simulator's own record is the answer: every refund, void and no-sale of those days is flagged
    // by the rule of its kind, and nothing else is flagged by those rules.
    simdata::ReceiptQuery days;
    days.receivedFromMs = first.startOfDay().toMSecsSinceEpoch();
    days.receivedToMs = last.endOfDay().toMSecsSinceEpoch();
    QMultiHash<QString, QString> expected; // rule -> text
    for (int index : site.select(days)) {
        const simdata::Receipt &receipt = site.receipts().at(index);
        if (receipt.kind == simdata::ReceiptKind::Refund)
            expected.insert("Refund", receipt.text);
        else if (receipt.kind == simdata::ReceiptKind::Void)
            expected.insert("Void/cancel", receipt.text);
        else if (receipt.kind == simdata::ReceiptKind::NoSale)
            expected.insert("No sale", receipt.text);
    }
    QVERIFY(expected.count("Refund") > 0 && expected.count("Void/cancel") > 0 && expected.count("No sale") > 0);
    QMultiHash<QString, QString> found;
    FlaggedReceipts *flagged = search->flagged();
    for (const FlaggedRow &row : flagged->rows()) {
        for (const QString &rule : row.rules) {
            if (rule == "Refund" || rule == "Void/cancel" || rule == "No sale")
                found.insert(rule, row.receipt.content);
        }
    }
    for (const QString &rule : QStringList { "Refund", "Void/cancel", "No sale" }) {
        const QStringList want = expected.values(rule);
        const QStringList got = found.values(rule);
        QCOMPARE(QSet<QString>(got.begin(), got.end()), QSet<QString>(want.begin(), want.end()));
    }
    for (const QVariant &bar : search->byRule()) {
        const QString rule = bar.toMap().value("label").toString();
        if (expected.contains(rule))
            QCOMPARE(bar.toMap().value("count").toInt(), expected.count(rule));
    }

    // Till 2, whose clock runs 20 s fast, set so in the Tills dialog.
    const simdata::Till &fastTill = site.tills().at(1);
    int row = -1;
    for (int i = 0; i < m_singletons.tills->rowCount(); ++i) {
        if (m_singletons.tills->index(i).data(TillClocks::TillNameRole).toString() == fastTill.name)
            row = i;
    }
    QVERIFY2(row >= 0, qPrintable(fastTill.name));
    click(find("btnTills"));
    QTRY_VERIFY(find("popTills")->property("opened").toBool());
    QQuickItem *tillItem = rowItem("lstTills", row);
    QVERIFY(tillItem);
    QObject *offsetField = findNamed(tillItem, "txtTillOffset");
    click(offsetField);
    press(Qt::Key_A, Qt::ControlModifier);
    type("20");
    press(Qt::Key_Return);
    QTRY_COMPARE(m_singletons.tills->index(row).data(TillClocks::OffsetMsRole).toLongLong(), 20000);
    click(find("btnTillsClose"));
    QTRY_VERIFY(!find("popTills")->property("visible").toBool());

    // A refund of that till: on the list 20 s before the time the till sent.
    int chosen = -1;
    const simdata::Receipt *receipt = nullptr;
    for (int i = 0; i < flagged->count() && chosen < 0; ++i) {
        const FlaggedRow &candidate = flagged->rows().at(i);
        if (!candidate.rules.contains("Refund") || candidate.receipt.streams.isEmpty())
            continue;
        for (const simdata::Receipt &served : site.receipts()) {
            if (served.text == candidate.receipt.content && served.till == 1 && served.receivedAtMs) {
                receipt = &served;
                chosen = i;
            }
        }
    }
    QVERIFY(chosen >= 0);
    const qint64 sentMs = *receipt->receivedAtMs;
    const qint64 videoMs = sentMs - 20000;
    // Set right, it is where the cameras show it, but for the moments the server took to receive it.
    QVERIFY2(videoMs >= *receipt->siteMs && videoMs - *receipt->siteMs < 5000,
        qPrintable(QStringLiteral("%1 / %2").arg(videoMs).arg(*receipt->siteMs)));
    const PosData shown = flagged->recordAt(chosen);
    QCOMPARE(shown.createdAt.toMSecsSinceEpoch(), videoMs);
    QCOMPARE(shown.tillClockOffsetMs, 20000);

    // "Show on timeline": the whole minutes around its time on the video's clock.
    QQuickItem *flaggedItem = rowItem("lstFlagged", chosen);
    QVERIFY(flaggedItem);
    clickInWindow(flaggedItem, "btnFlagTimeline");
    QVERIFY(!QTest::currentTestFailed());
    QTRY_COMPARE(find("stackView")->property("currentIndex").toInt(), 0);
    const qint64 firstMs = (videoMs - 90000) / 60000 * 60000;
    const qint64 lastMs = (videoMs + 90000 + 59999) / 60000 * 60000;
    QTRY_COMPARE(
        find("txtStart")->property("text").toString(), QDateTime::fromMSecsSinceEpoch(firstMs).toString("HH:mm"));
    QCOMPARE(find("txtEnd")->property("text").toString(), QDateTime::fromMSecsSinceEpoch(lastMs).toString("HH:mm"));

    // Exported from its row: the window around the video's time, the receipt 90 s in, the till's own
    // time and the offset in the manifest.
    showExceptionsTab();
    QVERIFY(!QTest::currentTestFailed());
    flaggedItem = rowItem("lstFlagged", chosen);
    QVERIFY(flaggedItem);
    clickInWindow(flaggedItem, "btnFlagExport");
    QVERIFY(!QTest::currentTestFailed());
    QLineEdit *name = saveDialogName();
    QVERIFY(name);
    const QString output = dir.filePath("refund.mp4");
    name->clear();
    QTest::keyClicks(name, output);
    acceptSaveDialog(name);
    QTRY_VERIFY_WITH_TIMEOUT(find("exportDone")->property("visible").toBool(), 180000);

    const PackagePaths package = PackagePaths::forVideo(output);
    const QJsonObject manifest = QJsonDocument::fromJson(readFile(package.manifest)).object();
    const QString sentText = QDateTime::fromMSecsSinceEpoch(sentMs, Qt::UTC).toString(Qt::ISODateWithMs);
    QCOMPARE(manifest["window"]["startUtc"].toString(),
        QDateTime::fromMSecsSinceEpoch(videoMs - 90000, Qt::UTC).toString(Qt::ISODateWithMs));
    QCOMPARE(manifest["chosenReceipt"]["tillClockOffsetMs"].toDouble(), 20000.0);
    QVERIFY2(QDateTime::fromString(manifest["chosenReceipt"]["receivedAt"].toString(), Qt::ISODate).toMSecsSinceEpoch()
            == sentMs,
        qPrintable(manifest["chosenReceipt"]["receivedAt"].toString() + " / " + sentText));
    bool listed = false;
    for (const QJsonValue &entry : manifest["receipts"].toArray()) {
        if (entry["text"].toString() == receipt->text) {
            listed = true;
            QCOMPARE(entry["tillClockOffsetMs"].toDouble(), 20000.0);
            QCOMPARE(QDateTime::fromString(entry["receivedAt"].toString(), Qt::ISODate).toMSecsSinceEpoch(), sentMs);
        }
    }
    QVERIFY(listed);
    // Its first line burnt in from 90 s into the clip, 20 s before where the till's own time puts it.
    const QString firstLine = receipt->text.section('\n', 0, 0).trimmed();
    const QString script = QString::fromUtf8(readFile(package.script));
    QVERIFY2(script.contains(QStringLiteral("Dialogue: 0,00:01:30.00,00:01:33.00,Default,,0,0,0,,%1").arg(firstLine)),
        qPrintable(script.left(4000)));
    press(Qt::Key_Escape);
    QTRY_VERIFY(!find("exportDone")->property("visible").toBool());
    QVERIFY(sim.stop());
#endif
}

QTEST_MAIN(TestE2eExceptionsTab)
#include "tst_e2e_exceptionstab.moc"
