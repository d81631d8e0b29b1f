#include "core/common.h"
#include "exceptions/ruleengine.h"

#include "simdata.h"
#include "simoptions.h"
#include "simprocess.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSet>
#include <QtTest>

#include <ctime>

namespace {

constexpr qint64 Day = 24 * 3600 * 1000;

/// A week of the shop, in a zone of its own: the hours counted are the machine's, and the test sets it.
const QString Now = QStringLiteral("2026-03-15T18:00:00Z");
const qint64 SiteOffsetMs = 3 * 3600 * 1000;

/// What the simulator made each receipt, as the default rules should see it.
bool expected(const QString &rule, const simdata::Receipt &receipt)
{
    using simdata::ReceiptKind;
    if (rule == QLatin1String("Refund"))
        return receipt.kind == ReceiptKind::Refund;
    if (rule == QLatin1String("Void/cancel"))
        return receipt.kind == ReceiptKind::Void;
    if (rule == QLatin1String("No sale"))
        return receipt.kind == ReceiptKind::NoSale;
    if (rule == QLatin1String("Discount/override"))
        return receipt.kind == ReceiptKind::Discount || receipt.kind == ReceiptKind::PriceOverride;
    if (rule == QLatin1String("Cash refund over 50"))
        return receipt.kind == ReceiptKind::Refund && receipt.cash && receipt.totalCents <= -5000;
    return false;
}

} // namespace

/// The Exceptions tab's logic over the simulated shop: its receipts fetched day by day from the POS server
/// as the tab does, read, and run through the default rules.
class TestE2eExceptions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void defaultRulesFindTheSimulatorsExceptions();
};

void TestE2eExceptions::initTestCase()
{
    qputenv("TZ", "Etc/GMT-3"); // three hours ahead of UTC, as the shop
    tzset();
}

void TestE2eExceptions::defaultRulesFindTheSimulatorsExceptions()
{
    const simdata::Config config = siteConfig(21, 7, Now, SiteOffsetMs);
    const simdata::Site site = simdata::Site::generate(config);
    SimProcess sim;
    QVERIFY(sim.start(siteArguments(config)));

    // Day by day, both bounds inclusive, as the tab will ask.
    QNetworkAccessManager manager;
    QList<PosData> receipts;
    const qint64 firstDay = (config.nowMs - config.days * Day + SiteOffsetMs) / Day * Day - SiteOffsetMs;
    int days = 0;
    for (qint64 from = firstDay; from <= config.nowMs; from += Day, ++days) {
        const QString url = QStringLiteral("%1/poses/?received_at__range_after=%2&received_at__range_before=%3")
                                .arg(sim.posBase(), simdata::formatUtc(from), simdata::formatUtc(from + Day - 1));
        QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(url)));
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        receipts += parsePosResult(reply->readAll(), QString());
        reply->deleteLater();
    }
    QCOMPARE(days, 8);
    QCOMPARE(receipts.size(), site.receipts().size());

    const RuleEngine engine(defaultRules());
    const QVector<FlaggedReceipt> flagged = engine.evaluate(receipts);

    // Each rule flags exactly the receipts of its kind, and shows the line that says so.
    static const QRegularExpression saysSo(QStringLiteral("REFUND|VOID|CANCELLED|NO SALE|DISCOUNT|PRICE OVERRIDE"),
        QRegularExpression::CaseInsensitiveOption);
    for (int r = 0; r < engine.rules().size(); ++r) {
        const QString name = engine.rules().at(r).name;
        QSet<int> found;
        for (const FlaggedReceipt &flag : flagged) {
            for (const RuleHit &hit : flag.hits) {
                if (hit.rule != r)
                    continue;
                found.insert(flag.receipt);
                QCOMPARE(hit.lineText, receipts.at(flag.receipt).content.split(QLatin1Char('\n')).at(hit.line));
                QVERIFY2(saysSo.match(hit.lineText).hasMatch(), qPrintable(name + ": " + hit.lineText));
            }
        }
        QSet<int> wanted;
        for (int i = 0; i < site.receipts().size(); ++i) {
            QCOMPARE(receipts.at(i).content, site.receipts().at(i).text); // the same receipts in the same order
            if (expected(name, site.receipts().at(i)))
                wanted.insert(i);
        }
        QVERIFY2(wanted.size() >= 3, qPrintable(name)); // or the comparison proves little
        QCOMPARE(found, wanted);
    }

    // The counts agree with the simulator's record: by till, and by the hour the cameras show once the
    // fast till's 20 seconds are taken off.
    auto clockAhead = [&site](const PosData &receipt) {
        for (const simdata::Till &till : site.tills()) {
            if (till.name == receipt.tillName)
                return till.clockAheadMs;
        }
        return qint64(0);
    };
    const FlagCounts counts = countFlags(receipts, flagged, engine.rules().size(),
        [&](const PosData &receipt) { return receipt.createdAt.addMSecs(-clockAhead(receipt)); });
    QHash<QString, int> byTill;
    std::array<int, 24> byHour {};
    for (const FlaggedReceipt &flag : flagged) {
        const simdata::Receipt &made = site.receipts().at(flag.receipt);
        byTill[site.tills().at(made.till).name] += flag.hits.size();
        const qint64 siteClock = *made.receivedAtMs - site.tills().at(made.till).clockAheadMs + SiteOffsetMs;
        byHour[size_t(siteClock % Day / 3600000)] += flag.hits.size();
    }
    QCOMPARE(counts.byTill.size(), 2);
    for (const FlagCounts::Till &till : counts.byTill) {
        QCOMPARE(till.id, QString::number(site.tills().at(till.name == QLatin1String("Till 1") ? 0 : 1).id));
        QCOMPARE(till.flags, byTill.value(till.name));
    }
    QCOMPARE(counts.byHour, byHour);
    QCOMPARE(counts.withoutTime, 0);
    QVERIFY(sim.stop());
}

QTEST_GUILESS_MAIN(TestE2eExceptions)
#include "tst_e2e_exceptions.moc"
