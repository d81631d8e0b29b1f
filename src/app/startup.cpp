#include "app/startup.h"

#include "app/accessibility.h"
#include "app/folderchooser.h"
#include "app/notifier.h"
#include "app/reviewsession.h"
#include "core/appstate.h"
#include "core/dayclock.h"
#include "core/i18n.h"
#include "core/rowselection.h"
#include "core/timelineview.h"
#include "core/utils.h"
#include "core/settingsfile.h"
#include "exceptions/exceptionrules.h"
#include "exceptions/exceptionsearch.h"
#include "net/certificatetrust.h"
#include "net/posclient.h"
#include "net/vmsclient.h"
#include "export/exportcontroller.h"
#include "export/merger.h"
#include "player/playerreceipts.h"
#include "player/videoplayer.h"
#include "pos/posdownloader.h"
#include "pos/possearching.h"
#include "pos/receiptmarks.h"
#include "pos/tillclocks.h"
#include "vms/apicall.h"
#include "vms/recordingslist.h"
#include "vms/streamslist.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQmlEngine>
#include <QUrl>
#include <QtQml>

namespace {

const char *const kUri = "Tillmark";

template <typename T> void registerSingleton(T *instance, const char *name, EngineUse use)
{
    if (use == EngineUse::Single) {
        qmlRegisterSingletonInstance(kUri, 1, 0, name, instance);
        return;
    }
    // qmlRegisterSingletonInstance binds the object to the first engine that asks for it; a
    // factory can hand the same object to each engine in turn, while C++ keeps owning it.
    static T *s_instance = instance;
    qmlRegisterSingletonType<T>(kUri, 1, 0, name, [](QQmlEngine *, QJSEngine *) -> QObject * {
        QQmlEngine::setObjectOwnership(s_instance, QQmlEngine::CppOwnership);
        return s_instance;
    });
}

} // namespace

void prepareProcess()
{
    // Over TLS a network thread receives a clip in blocks of 4 KiB. With GLib's loop in that thread,
    // a 1 GiB download made 880,000 wake-up system calls; with Qt's own loop there, 560,000, and
    // took some 15% less processor time.
    if (!qEnvironmentVariableIsSet("QT_NO_THREADED_GLIB"))
        qputenv("QT_NO_THREADED_GLIB", "1");
}

Singletons createSingletons()
{
    Singletons s;
    s.i18n = new I18n();
    s.appState = new AppState();
    // The servers and the user of the last login, where one was saved.
    s.appState->loadConnection(settingsFile());
    s.trust = CertificateTrust::shared();
    s.vms = VmsClient::shared();
    s.pos = PosClient::shared();
    s.streamsList = new StreamsList();
    s.streamsList->setClient(s.vms);
    s.utils = new Utils();
    connectVideoUrls(*s.utils, s.vms);
    s.exports = new ExportController(nullptr, ExportClients { s.vms, s.pos });
    s.notifier = new Notifier();
    s.rules = ExceptionRules::shared();
    s.tills = TillClocks::shared();
    return s;
}

void connectVideoUrls(Utils &utils, VmsClient *vms)
{
    utils.setVideoUrlSource([vms](const QString &id, const QDateTime &start, const QDateTime &end) {
        return vms->credentialedClipUrl(id, start, end);
    });
}

void registerQmlTypes(const Singletons &singletons, EngineUse use)
{
    registerSingleton(singletons.i18n, "I18n", use);
    registerSingleton(singletons.appState, "AppState", use);
    registerSingleton(singletons.streamsList, "StreamsList", use);
    registerSingleton(singletons.utils, "Utils", use);
    // the clients of the two servers, which the login page and the questions about them use
    registerSingleton(singletons.vms, "VmsClient", use);
    registerSingleton(singletons.pos, "PosClient", use);
    registerSingleton(singletons.trust, "CertificateTrust", use);
    registerSingleton(singletons.exports, "Exports", use);
    registerSingleton(singletons.notifier, "Notifier", use);
    registerSingleton(singletons.rules, "Rules", use);
    registerSingleton(singletons.tills, "Tills", use);

    // creatable types, in this order: RecordingsList, PosSearching, ApiCall, PosDownloader, Merger
    qmlRegisterType<RecordingsList>(kUri, 1, 0, "RecordingsList");
    qmlRegisterType<PosSearching>(kUri, 1, 0, "PosSearching");
    qmlRegisterType<ApiCall>(kUri, 1, 0, "ApiCall");
    qmlRegisterType<PosDownloader>(kUri, 1, 0, "PosDownloader");
    qmlRegisterType<Merger>(kUri, 1, 0, "Merger");
    qmlRegisterType<DayClock>(kUri, 1, 0, "DayClock");
    qmlRegisterType<TimelineView>(kUri, 1, 0, "TimelineView");
    qmlRegisterType<RowSelection>(kUri, 1, 0, "RowSelection");
    qmlRegisterType<FolderChooser>(kUri, 1, 0, "FolderChooser");
    // then the export: the controller's type (the one instance is Exports), and the jobs and the queue
    // it makes, which QML only reads
    qmlRegisterUncreatableType<ExportController>(
        kUri, 1, 0, "ExportController", QStringLiteral("Exports is the one export controller"));
    qmlRegisterUncreatableType<ExportJob>(kUri, 1, 0, "ExportJob", QStringLiteral("ExportController makes the jobs"));
    qmlRegisterUncreatableType<ExportQueue>(
        kUri, 1, 0, "ExportQueue", QStringLiteral("ExportController holds the queue"));
    qmlRegisterType<ReceiptMarks>(kUri, 1, 0, "ReceiptMarks");
    qmlRegisterType<VideoPlayer>(kUri, 1, 0, "VideoPlayer");
    qmlRegisterType<PlayerReceipts>(kUri, 1, 0, "PlayerReceipts");
    qmlRegisterType<ReviewSession>(kUri, 1, 0, "ReviewSession");
    // the exceptions: the tab's search, and the types of what Rules and Tills hold, which QML only reads
    qmlRegisterType<ExceptionSearch>(kUri, 1, 0, "ExceptionSearch");
    qmlRegisterUncreatableType<FlaggedReceipts>(
        kUri, 1, 0, "FlaggedReceipts", QStringLiteral("ExceptionSearch holds the flagged receipts"));
    qmlRegisterUncreatableType<ReceiptFlagger>(
        kUri, 1, 0, "ReceiptFlagger", QStringLiteral("Rules is the one that flags receipts"));
    qmlRegisterUncreatableType<ExceptionRules>(kUri, 1, 0, "ExceptionRules", QStringLiteral("Rules is the one"));
    qmlRegisterUncreatableType<RuleListModel>(kUri, 1, 0, "RuleListModel", QStringLiteral("Rules holds the list"));
    qmlRegisterUncreatableType<TillClocks>(kUri, 1, 0, "TillClocks", QStringLiteral("Tills is the one"));
}

int runMainWindow(QCoreApplication &app, const QUrl &url)
{
    installPasswordFieldAccessibility();
    QQmlApplicationEngine engine;
    // Queued: objectCreated fires inside load(), before exec() runs, when an exit request would be lost.
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, &app,
        [url](QObject *object, const QUrl &objectUrl) {
            if (!object && url == objectUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);
    engine.load(url);
    return app.exec();
}
