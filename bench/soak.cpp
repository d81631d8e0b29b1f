// Soak: 1,000 POS searches and 1,000 recorded-period loads against the simulated servers in one process,
// as an operator's long day would run them. Resident memory (VmRSS) is read after the first 100 rounds
// and after the last; a leak of a few kilobytes per request shows as megabytes between the two.
//
//   soak [--rounds N] [--limit-mb MB]
//
// Prints the figures; exits with 1 when the growth reaches the limit (5 MB by default) or a request fails.

#include "benchutil.h"
#include "core/appstate.h"
#include "core/utils.h"
#include "pos/possearching.h"
#include "simprocess.h"
#include "vms/recordingslist.h"
#include "vms/streamslist.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <cstdio>

namespace {

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer holds freed memory back in a quarantine of hundreds of MB, so resident memory keeps
// growing whatever the program does; there, leaks are LeakSanitizer's to report at exit.
constexpr bool ResidentMemoryMeansLittle = true;
#else
constexpr bool ResidentMemoryMeansLittle = false;
#endif

/// The program's debug messages (a line per recorded period) would go to logs.txt; here they are only
/// counted, so that the terminal does not set the pace.
qint64 s_debugLines = 0;
void countMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg) {
        ++s_debugLines;
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption roundsOption("rounds", "Searches and period loads, each.", "N", "1000");
    const QCommandLineOption limitOption("limit-mb", "Largest growth of resident memory allowed.", "MB", "5");
    parser.addOptions({ roundsOption, limitOption });
    parser.process(app);
    const int rounds = qMax(101, parser.value(roundsOption).toInt());
    const double limitMb = parser.value(limitOption).toDouble();

    // Local days: the simulator's site and this process agree on UTC.
    qputenv("TZ", "UTC");
    const QString now = QStringLiteral("2025-11-05T15:00:00Z");
    SimProcess sim;
    if (!sim.start({ "--seed", "1", "--days", "3", "--now", now, "--tz-offset-ms", "0" })) {
        std::fprintf(stderr, "soak: the simulator did not start\n");
        return 2;
    }
    AppState state;
    Utils utils;
    state.setBase(sim.vmsBase());
    state.setPosBase(sim.posBase());
    state.setUser("admin");
    state.setPassword("Pelmo4826");
    qInstallMessageHandler(countMessages);

    StreamsList cameras;
    QEventLoop loop;
    QObject::connect(&cameras, &StreamsList::isLoadingChanged, &loop, [&] {
        if (!cameras.isLoading())
            loop.quit();
    });
    cameras.loadStreams();
    loop.exec();
    QStringList cameraIds;
    for (int i = 0; i < cameras.rowCount(); ++i)
        cameraIds << cameras.get(i).value("strmId").toString();
    if (cameraIds.isEmpty()) {
        std::fprintf(stderr, "soak: no cameras\n");
        return 2;
    }

    // The texts an operator might try, hits and misses, non-ASCII and reserved characters among them.
    const QStringList texts { "SALT & PEPPER", "milk", QString::fromUtf8("Äpfel"), "TOTAL", "bread", "no such item",
        QString::fromUtf8("Crème"), "50%", "card" };
    const QDate lastDay(2025, 11, 5);

    PosSearching search;
    RecordingsList periods;
    int failures = 0;
    bool searchDone = false;
    bool periodsDone = false;
    qint64 searchRows = 0;
    qint64 periodRows = 0;
    QObject::connect(&search, &PosSearching::errorOccured, [&](const QString &message) {
        ++failures;
        std::fprintf(stderr, "search failed: %s\n", qPrintable(message));
    });
    QObject::connect(&search, &PosSearching::isLoadingChanged, [&] {
        if (!search.isLoading()) {
            searchDone = true;
            searchRows += search.rowCount();
        }
    });
    QObject::connect(&periods, &RecordingsList::errorOccured, [&](const QString &message) {
        ++failures;
        periodsDone = true;
        std::fprintf(stderr, "period load failed: %s\n", qPrintable(message));
    });
    QObject::connect(&periods, &RecordingsList::loadingFinished, [&] {
        periodsDone = true;
        periodRows += periods.count();
    });

    qint64 rssAt100 = -1;
    QElapsedTimer timer;
    timer.start();
    for (int round = 1; round <= rounds; ++round) {
        searchDone = periodsDone = false;
        // The two pages of the window work at the same time.
        search.searchByContent(texts.at(round % texts.size()));
        periods.loadRecordingsOfDay(cameraIds.at(round % cameraIds.size()), lastDay.addDays(-(round % 3)));
        QElapsedTimer wait;
        wait.start();
        while (!(searchDone && periodsDone) && wait.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (!(searchDone && periodsDone)) {
            std::fprintf(stderr, "soak: round %d did not end within a minute\n", round);
            return 1;
        }
        if (round == 100) {
            // Let deferred deletes of the replies run before reading.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            rssAt100 = bench::statusKiB("VmRSS");
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const qint64 rssAtEnd = bench::statusKiB("VmRSS");
    const double seconds = timer.elapsed() / 1000.0;
    const double growthMb = (rssAtEnd - rssAt100) / 1024.0;

    std::printf("soak: %d searches (%lld rows) and %d period loads (%lld rows, %lld debug lines) in %.1f s\n", rounds,
        searchRows, rounds, periodRows, s_debugLines, seconds);
    std::printf("soak: VmRSS after round 100: %.1f MB, after round %d: %.1f MB, growth %.2f MB (limit %.1f MB)\n",
        rssAt100 / 1024.0, rounds, rssAtEnd / 1024.0, growthMb, limitMb);
    std::printf("soak: %d failed requests\n", failures);
    if (ResidentMemoryMeansLittle)
        std::printf("soak: built with AddressSanitizer: the growth is not judged\n");
    const bool passed = failures == 0 && (ResidentMemoryMeansLittle || growthMb < limitMb);
    std::printf("soak: %s\n", passed ? "PASS" : "FAIL");
    sim.stop();
    return passed ? 0 : 1;
}
