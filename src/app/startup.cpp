#include "app/startup.h"

#include "app/accessibility.h"
#include "app/folderchooser.h"
#include "core/appstate.h"
#include "core/dayclock.h"
#include "core/i18n.h"
#include "core/utils.h"
#include "export/exportcontroller.h"
#include "export/merger.h"
#include "player/playerreceipts.h"
#include "player/videoplayer.h"
#include "pos/posdownloader.h"
#include "pos/possearching.h"
#include "pos/receiptmarks.h"
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

Singletons createSingletons()
{
    Singletons s;
    s.i18n = new I18n();
    s.appState = new AppState();
    s.streamsList = new StreamsList();
    s.utils = new Utils();
    return s;
}

void registerQmlTypes(const Singletons &singletons, EngineUse use)
{
    registerSingleton(singletons.i18n, "I18n", use);
    registerSingleton(singletons.appState, "AppState", use);
    registerSingleton(singletons.streamsList, "StreamsList", use);
    registerSingleton(singletons.utils, "Utils", use);

    // creatable types, in this order: RecordingsList, PosSearching, ApiCall, PosDownloader, Merger
    qmlRegisterType<RecordingsList>(kUri, 1, 0, "RecordingsList");
    qmlRegisterType<PosSearching>(kUri, 1, 0, "PosSearching");
    qmlRegisterType<ApiCall>(kUri, 1, 0, "ApiCall");
    qmlRegisterType<PosDownloader>(kUri, 1, 0, "PosDownloader");
    qmlRegisterType<Merger>(kUri, 1, 0, "Merger");
    qmlRegisterType<DayClock>(kUri, 1, 0, "DayClock");
    qmlRegisterType<FolderChooser>(kUri, 1, 0, "FolderChooser");
    // then the export: the controller a page declares, and the jobs it makes, which QML only reads
    qmlRegisterType<ExportController>(kUri, 1, 0, "ExportController");
    qmlRegisterUncreatableType<ExportJob>(kUri, 1, 0, "ExportJob", QStringLiteral("ExportController makes the jobs"));
    qmlRegisterUncreatableType<ExportQueue>(
        kUri, 1, 0, "ExportQueue", QStringLiteral("ExportController holds the queue"));
    qmlRegisterType<ReceiptMarks>(kUri, 1, 0, "ReceiptMarks");
    qmlRegisterType<VideoPlayer>(kUri, 1, 0, "VideoPlayer");
    qmlRegisterType<PlayerReceipts>(kUri, 1, 0, "PlayerReceipts");
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
