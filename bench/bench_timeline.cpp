// The time of one timeline repaint: from the canvas' repaint request to its "painted" signal, with the
// recorded periods of a busy camera in view, then with the receipt marks of a busy till over them,
// against an empty timeline for comparison.
//
//   bench_timeline [--periods N] [--marks N] [--repaints N]
//
// Runs off-screen with the software renderer unless QT_QPA_PLATFORM / QT_QUICK_BACKEND say otherwise.

#include "app/startup.h"
#include "core/appstate.h"
#include "core/timelineview.h"
#include "pos/receiptmarks.h"
#include "vms/recordingslist.h"
#include "vms/streamslist.h"

#include <QCommandLineParser>
#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// The page as the window holds it.
const char *const Scene = R"(
import QtQuick 2.15
Item {
    width: 800
    height: 600
    PageMain {
        anchors.fill: parent
    }
}
)";

void quietDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // Loading periods logs two lines per period; only warnings matter here.
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

/// count periods spread evenly over 11:00 to 13:00 today, the start view, each lasting half its share.
QByteArray periodsBody(int count)
{
    const qint64 from = QDate::currentDate().startOfDay().toMSecsSinceEpoch() + 11 * 3600000LL;
    const qint64 share = 2 * 3600000LL / std::max(1, count);
    QJsonArray periods;
    for (int i = 0; i < count; ++i) {
        periods.append(QJsonObject {
            { "startTimeMs", QString::number(from + i * share) }, { "durationMs", QString::number(share / 2) } });
    }
    const QJsonArray reply { QJsonObject { { "periods", periods } } };
    return QJsonDocument(QJsonObject { { "error", "0" }, { "reply", reply } }).toJson(QJsonDocument::Compact);
}

/// count receipts of camera cam-1 spread evenly over 11:00 to 13:00 today.
QByteArray receiptsBody(int count)
{
    const QDateTime from = QDate::currentDate().startOfDay().addSecs(11 * 3600);
    const qint64 share = 2 * 3600000LL / std::max(1, count);
    const QJsonObject device { { "streams",
        QJsonArray { QJsonObject { { "nx_id", "cam-1" }, { "name", "Till 1" } } } } };
    QJsonArray receipts;
    for (int i = 0; i < count; ++i) {
        receipts.append(QJsonObject { { "text", QStringLiteral("SHOP\nTill 1\nITEM %1\nTOTAL 1.00").arg(i) },
            { "received_at", from.addMSecs(i * share).toUTC().toString(Qt::ISODateWithMs) }, { "device", device } });
    }
    return QJsonDocument(receipts).toJson(QJsonDocument::Compact);
}

/// Milliseconds of each repaint, request to "painted".
QVector<double> repaints(QQuickItem *canvas, int runs)
{
    QVector<double> samples;
    for (int i = 0; i < runs; ++i) {
        QEventLoop loop;
        QObject::connect(canvas, SIGNAL(painted()), &loop, SLOT(quit()));
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(1); });
        QElapsedTimer timer;
        timer.start();
        QMetaObject::invokeMethod(canvas, "requestPaint");
        if (loop.exec() != 0) {
            std::fprintf(stderr, "the canvas did not repaint\n");
            return {};
        }
        samples.append(timer.nsecsElapsed() / 1e6);
        QObject::disconnect(canvas, SIGNAL(painted()), &loop, SLOT(quit()));
    }
    std::sort(samples.begin(), samples.end());
    return samples;
}

void report(const char *what, const QVector<double> &samples)
{
    if (samples.isEmpty())
        return;
    const auto at = [&](double q) { return samples.at(std::min(int(q * samples.size()), samples.size() - 1)); };
    std::printf("%-28s median %6.2f ms   p90 %6.2f ms   min %6.2f ms   max %6.2f ms   (%d repaints)\n", what, at(0.5),
        at(0.9), samples.constFirst(), samples.constLast(), int(samples.size()));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    // A repaint request waits for the next frame; without this the platform adds 5 ms of idle time to it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_UPDATE_IDLE_TIME"))
        qputenv("QT_QPA_UPDATE_IDLE_TIME", "0");
    qInstallMessageHandler(quietDebug);
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Timeline repaint time."));
    parser.addHelpOption();
    const QCommandLineOption periodsOption(QStringLiteral("periods"), QStringLiteral("Recorded periods in view."),
        QStringLiteral("n"), QStringLiteral("2000"));
    const QCommandLineOption marksOption(
        QStringLiteral("marks"), QStringLiteral("Receipt marks in view."), QStringLiteral("n"), QStringLiteral("5000"));
    const QCommandLineOption runsOption(
        QStringLiteral("repaints"), QStringLiteral("Repaints to time."), QStringLiteral("n"), QStringLiteral("200"));
    parser.addOptions({ periodsOption, marksOption, runsOption });
    parser.process(app);
    const int periodCount = parser.value(periodsOption).toInt();
    const int markCount = parser.value(marksOption).toInt();
    const int runs = std::max(1, parser.value(runsOption).toInt());

    const Singletons singletons = createSingletons();
    registerQmlTypes(singletons);
    // Nothing answers here: the page's server-time request fails at once and quietly.
    singletons.appState->setBase(QStringLiteral("http://127.0.0.1:1"));

    QQuickView view;
    QQmlComponent component(view.engine());
    component.setData(Scene, QUrl(QStringLiteral("qrc:/bench_timeline.qml")));
    auto *scene = qobject_cast<QQuickItem *>(component.create());
    if (!scene) {
        std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        return 1;
    }
    scene->setParentItem(view.contentItem());
    view.resize(800, 600);
    view.show();

    singletons.streamsList->parseStreamsData(R"([{"id":"cam-1","name":"Till 1"}])");
    QObject *list = scene->findChild<QObject *>(QStringLiteral("lstStreams"));
    auto *canvas = scene->findChild<QQuickItem *>(QStringLiteral("canvas"));
    auto *timeline = scene->findChild<TimelineView *>(QStringLiteral("timelineView"));
    auto *recordings = scene->findChild<RecordingsList *>(QStringLiteral("recordingsList"));
    auto *marks = scene->findChild<ReceiptMarks *>(QStringLiteral("receiptMarks"));
    if (!list || !canvas || !timeline || !recordings || !marks) {
        std::fprintf(stderr,
            "the page has changed: camera list, canvas, timeline view, recordings or receipt marks not found\n");
        return 1;
    }
    list->setProperty("currentIndex", 0); // a chosen camera shows the timeline

    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        app.processEvents(QEventLoop::AllEvents, 50);
    std::printf("canvas %.0f x %.0f, minutes %g to %g in view\n", canvas->width(), canvas->height(),
        double(timeline->minuteStart()), double(timeline->minuteEnd()));

    report("no recorded periods", repaints(canvas, runs));
    recordings->parseRecordingData(periodsBody(periodCount));
    // The periods drawn, not only loaded: a repaint of none would time nothing.
    const QByteArray label = QByteArray::number(recordings->count()) + " recorded periods ("
        + QByteArray::number(timeline->periodSpans().size() / 2) + " in view)";
    const QVector<double> withPeriods = repaints(canvas, runs);
    report(label.constData(), withPeriods);
    marks->setMarksFromBody(receiptsBody(markCount), QStringLiteral("cam-1"), QDate::currentDate());
    const QByteArray both = label + " + " + QByteArray::number(marks->count()) + " marks";
    const QVector<double> withMarks = repaints(canvas, runs);
    report(both.constData(), withMarks);
    if (withPeriods.isEmpty() || withMarks.isEmpty())
        return 1;
    const double median = withMarks.at(withMarks.size() / 2);
    std::printf("target: a repaint with 2000 periods and 5000 marks in view under 16 ms: median %.2f ms, %s\n", median,
        median < 16 ? "met" : "NOT met");
    return 0;
}
