// Times the subtitle script of an export window for growing numbers of receipt lines, with the
// per-line debug messages going to "logs.txt" as in the program, dropped by a handler that does
// nothing, and switched off by a logging rule. The last figure of each size is the cost of fresh
// memory for a string as long as the script, the floor under any way of building it.

#include "core/logfile.h"
#include "pos/posdownloader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

const QDateTime kStart(QDate(2021, 6, 1), QTime(8, 0), Qt::UTC);

/// Receipts of about 20 lines, arriving every few seconds, sometimes in bursts and now and then
/// listed out of time order, until there are `lines` lines in all.
QList<PosData> makeRecords(int lines, std::mt19937 &rng)
{
    auto pick = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    const QStringList items { "MILK 1L          1.19 A", "BREAD RYE        2.49 A", "COFFEE 500G      6.99 A",
        "BEER 6X0.5       5.94 B", "BANANAS 1.2KG    1.43 A", "DEPOSIT          1.50 B" };
    QList<PosData> records;
    qint64 at = 0;
    int total = 0;
    while (total < lines) {
        const int size = std::min(pick(5, 25), lines - total);
        QStringList receipt { "      SHOP 0815 BERLIN", "Till 2   Cashier 7", "------------------------" };
        while (receipt.size() < size)
            receipt << items.at(pick(0, items.size() - 1));
        receipt = receipt.mid(0, size);
        PosData record;
        record.content = receipt.join('\n');
        at += pick(0, 4) == 0 ? pick(0, 1500) : pick(3000, 40000);
        record.createdAt = kStart.addMSecs(pick(0, 19) == 0 ? at - pick(0, 60000) : at);
        total += receipt.size();
        records << record;
    }
    return records;
}

int lineCount(const QList<PosData> &records)
{
    int n = 0;
    for (const PosData &record : records)
        n += record.content.count('\n') + 1;
    return n;
}

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) { }

struct Figure {
    double bestMs = 0;
    int events = 0;
    int bytes = 0;
    int characters = 0;
};

/// What merely getting and filling fresh memory for a string of that size costs on this machine.
double timeFill(int characters, int runs)
{
    double best = 1e300;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QString filled(characters, QLatin1Char(' '));
        best = std::min(best, timer.nsecsElapsed() / 1e6);
        if (filled.size() != characters)
            return -1;
    }
    return best;
}

Figure timeConversion(const QList<PosData> &records, int runs)
{
    Figure figure;
    figure.bestMs = 1e300;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QString script = _convertToAss(kStart, records);
        figure.bestMs = std::min(figure.bestMs, timer.nsecsElapsed() / 1e6);
        figure.events = script.count(QLatin1String("\nDialogue: "));
        figure.bytes = script.toUtf8().size();
        figure.characters = script.size();
    }
    return figure;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());

    std::printf("ASS conversion, best of several runs (100k: best of 2)\n");
    double hundredThousandMs = 0;
    std::printf("%8s %8s %8s %10s | %12s %10s | %12s %10s | %12s %10s\n", "lines", "records", "events", "script",
        "logs.txt ms", "us/line", "no-op ms", "us/line", "rule-off ms", "us/line");
    for (int lines : { 1000, 10000, 100000 }) {
        std::mt19937 rng { uint(lines) };
        const QList<PosData> records = makeRecords(lines, rng);
        const int n = lineCount(records);
        const int runs = lines >= 100000 ? 2 : 5;

        QFile::remove(QStringLiteral("logs.txt"));
        qInstallMessageHandler(myMessageOutput);
        const Figure logged = timeConversion(records, runs);
        const qint64 logSize = QFileInfo(QStringLiteral("logs.txt")).size();

        qInstallMessageHandler(dropMessage);
        const Figure dropped = timeConversion(records, runs);

        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        const Figure off = timeConversion(records, runs);
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(nullptr);

        std::printf("%8d %8d %8d %9.1fM | %12.1f %10.2f | %12.1f %10.2f | %12.1f %10.2f\n", n, int(records.size()),
            logged.events, logged.bytes / 1e6, logged.bestMs, logged.bestMs * 1000 / n, dropped.bestMs,
            dropped.bestMs * 1000 / n, off.bestMs, off.bestMs * 1000 / n);
        if (lines == 100000)
            hundredThousandMs = logged.bestMs;
        std::printf("%8s logs.txt after %d runs: %.1f MB; filling a fresh string of the script's size: %.1f ms\n", "",
            runs, logSize / 1e6, timeFill(off.characters, runs));
    }
    std::printf("100k lines with logs.txt: %.0f ms, target under 1000 ms: %s\n", hundredThousandMs,
        hundredThousandMs < 1000 ? "met" : "NOT met");
    return 0;
}
