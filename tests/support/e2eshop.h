#pragma once
// What the end-to-end tests of the export share: the simulated shop they log in to, the clip it serves,
// and the set-up of the window's singletons. Header only: the tests that use it link the simulated
// servers' process and the QML module, which the rest of the test support does not.
#include "app/startup.h"
#include "e2e.h"
#include "simoptions.h"
#include "simprocess.h"
#include "testutil.h"

#include <QStandardPaths>
#include <QStringList>
#include <QtTest>

#include <ctime>

namespace shop {

// Two days of receipts up to the reference time, in a zone an hour ahead of UTC.
const QString Now = QStringLiteral("2025-11-05T15:00:00Z");
const qint64 SiteOffsetMs = 3600000;
const quint64 Seed = 5;
const int Days = 2;

inline simdata::Config config()
{
    return siteConfig(Seed, Days, Now, SiteOffsetMs);
}

/// Renders the test clip into dir and starts the simulated shop serving it, with arguments of the
/// test's own added; false, with the cause logged, when either failed.
inline bool startServing(SimProcess &sim, const WorkDir &dir, const QStringList &arguments = {})
{
    const QString clip = dir.filePath(QStringLiteral("served.mkv"));
    return renderTestClip(clip)
        && sim.start(siteArguments(config()) + arguments + QStringList { QStringLiteral("--clip-file"), clip });
}

/// The machine's zone for the test (the simulator, a child, takes it too), the programs the test needs
/// checked, and the window's singletons made and registered (for a window of each test function's own
/// with EngineUse::Many).
inline void prepare(
    Singletons &singletons, const char *zone, const QStringList &programs, EngineUse use = EngineUse::Single)
{
    qputenv("TZ", zone);
    tzset();
    for (const QString &program : programs)
        QVERIFY2(!QStandardPaths::findExecutable(program).isEmpty(), qPrintable(program + " is needed"));
    singletons = createSingletons();
    registerQmlTypes(singletons, use);
}

} // namespace shop
