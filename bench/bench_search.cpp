// Times reading a search reply of 20,000 transactions: parse, sort newest first and model reset,
// beside Python's json module reading the same body. Target: the parse alone in at most 60 ms.

#include "core/common.h"
#include "pos/possearching.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

/// A reply as a POS server writes it: receipts of 10 to 30 lines from a few tills, each watched
/// by one to three cameras, with the keys the program does not read as well.
QByteArray makeBody(int transactions)
{
    std::mt19937 rng(20000);
    auto pick = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    const QStringList items { "MILK 1L", "BREAD RYE", "COFFEE 500G", "BEER 6X0.5", "BANANAS", "DEPOSIT", "EGGS 10" };
    const QDateTime first(QDate(2021, 5, 1), QTime(7, 0), Qt::UTC);
    QJsonArray array;
    for (int t = 0; t < transactions; ++t) {
        const int till = pick(1, 6);
        QStringList lines { "      SHOP 0815 BERLIN", QString("Till %1   Cashier %2").arg(till).arg(pick(1, 20)),
            QString(32, '-') };
        for (int i = pick(5, 25); i > 0; --i)
            lines << QString("%1 %2")
                         .arg(items.at(pick(0, items.size() - 1)), -24)
                         .arg(pick(50, 2000) / 100.0, 7, 'f', 2);
        lines << QString(32, '-') << "TOTAL EUR          23.17"
              << "Thank you for your visit!";
        QJsonArray streams;
        for (int c = pick(1, 3); c > 0; --c) {
            streams.append(QJsonObject { { "id", till * 10 + c },
                { "nx_id", QString("{6f1c2a%1-4e0b-4c1d-9a3e-00000000000%2}").arg(till).arg(c) },
                { "name", QString("Till %1 camera %2").arg(till).arg(c) } });
        }
        const QDateTime received = first.addMSecs(qint64(pick(0, 30 * 24 * 3600)) * 1000 + pick(0, 999));
        array.append(QJsonObject { { "id", t + 1 }, { "number", QString("R-%1").arg(t + 100000) },
            { "text", lines.join('\n') }, { "received_at", received.toString(Qt::ISODateWithMs) },
            { "created_at", received.addSecs(-2).toOffsetFromUtc(7200).toString(Qt::ISODateWithMs) },
            { "total", "23.17" }, { "currency", "EUR" }, { "payment", pick(0, 2) ? "card" : "cash" },
            { "cashier", pick(1, 20) },
            { "device",
                QJsonObject { { "id", till }, { "name", QString("Till %1").arg(till) },
                    { "serial", QString("SN-%1").arg(till * 7919) }, { "streams", streams } } } });
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

/// The best time of parsing the body alone, as Python's json.loads figure is: every run's records are
/// kept to the end, so that no run pays for freeing another's (nor for the allocator's tidying after it).
double bestParseAlone(int runs, const QByteArray &body)
{
    double best = 1e300;
    std::vector<QList<PosData>> kept;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        kept.push_back(parsePosResult(body, QString()));
        best = std::min(best, timer.nsecsElapsed() / 1e6);
        if (kept.back().size() != 20000)
            std::printf("  the body read as %d records\n", int(kept.back().size()));
    }
    return best;
}

double bestOf(int runs, const std::function<void()> &work)
{
    double best = 1e300;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

/// Wall time of python3 on the body, and the time of json.load alone as Python measures it.
void timePython(const QString &bodyPath, const QString &code, const char *label)
{
    QProcess python;
    python.setStandardInputFile(bodyPath);
    QElapsedTimer timer;
    timer.start();
    python.start(QStringLiteral("python3"), { QStringLiteral("-c"), code });
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        std::printf("  %-52s not available\n", label);
        return;
    }
    const double wallMs = timer.nsecsElapsed() / 1e6;
    const QByteArray said = python.readAllStandardOutput().trimmed();
    std::printf("  %-52s %8.1f ms wall%s%s\n", label, wallMs, said.isEmpty() ? "" : ", json.load alone ",
        said.isEmpty() ? "" : (said + " ms").constData());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int transactions = 20000;
    const QByteArray body = makeBody(transactions);
    std::printf("Search reply: %d transactions, %.1f MB\n", transactions, body.size() / 1e6);

    const int runs = 5;
    QList<PosData> parsed;
    const double parseMs = bestOf(runs, [&] { parsed = parsePosResult(body, QString()); });
    QList<PosData> sorted;
    const double sortMs = bestOf(runs, [&] {
        sorted = parsed;
        PosSearching::sortNewestFirst(sorted);
    });
    PosSearching model;
    const double wholeMs = bestOf(runs, [&] { model.setRecordsFromBody(body); });
    std::printf("  %-52s %8.1f ms  (the previous result released in the time)\n", "parsePosResult", parseMs);
    std::printf("  %-52s %8.1f ms\n", "sort newest first (copy included)", sortMs);
    std::printf("  %-52s %8.1f ms  (%d rows)\n", "parse + sort + model reset", wholeMs, model.rowCount());

    QTemporaryFile file;
    if (!file.open() || file.write(body) != body.size() || !file.flush()) {
        std::printf("  cannot write the body for Python\n");
        return 1;
    }
    timePython(file.fileName(), QStringLiteral("import sys"), "python3 start-up alone");
    timePython(file.fileName(), QStringLiteral("import json,sys; json.load(sys.stdin)"),
        "python3 -c 'import json,sys; json.load(sys.stdin)'");
    timePython(file.fileName(),
        QStringLiteral("import json,sys,time; d=sys.stdin.read(); t=time.perf_counter(); json.loads(d); "
                       "print('%.1f' % ((time.perf_counter()-t)*1000))"),
        "python3, json.loads timed inside");
    const double aloneMs = bestParseAlone(runs, body);
    std::printf("  %-52s %8.1f ms  (target: at most 60 ms, %s)\n", "parsePosResult alone, the same bytes", aloneMs,
        aloneMs <= 60 ? "met" : "missed");
    return 0;
}
