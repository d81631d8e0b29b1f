#pragma once

class AppState;
class CertificateTrust;
class ExceptionRules;
class ExportController;
class I18n;
class PosClient;
class Notifier;
class QCoreApplication;
class QUrl;
class StreamsList;
class TillClocks;
class Utils;
class VmsClient;

/// The process-wide objects: created once, with no parent, before the QML engine, and never deleted.
/// Besides the settings and helpers, the services every page shares: the one export queue and what
/// the window tells the operator. No page declares its own.
struct Singletons {
    I18n *i18n = nullptr;
    AppState *appState = nullptr;
    StreamsList *streamsList = nullptr;
    Utils *utils = nullptr;
    /// One client per server, following the connection settings; every model, download and export
    /// that the pages make asks through these.
    VmsClient *vms = nullptr;
    PosClient *pos = nullptr;
    /// The certificates the operator trusts, for both clients.
    CertificateTrust *trust = nullptr;
    ExportController *exports = nullptr;
    Notifier *notifier = nullptr;
    /// The exception rules, and the tills with their clocks' offsets, both kept in the settings file.
    ExceptionRules *rules = nullptr;
    TillClocks *tills = nullptr;
};

/// Before the application object is made: the threads Qt starts later (the clients' network threads
/// among them) run Qt's own event loop rather than GLib's, unless QT_NO_THREADED_GLIB says otherwise.
/// The window's thread keeps GLib's, which desktop dialogs may need.
void prepareProcess();

Singletons createSingletons();

/// Utils makes the pages' clip URL through the video server's client, as the program does.
void connectVideoUrls(Utils &utils, VmsClient *vms);

/// Whether the singletons serve one QML engine (the program) or a series of engines (QML tests,
/// which make an engine per test file).
enum class EngineUse { Single, Many };

/// Makes the module Tillmark 1.0 known: the singleton instances first, then the creatable types.
void registerQmlTypes(const Singletons &singletons, EngineUse use = EngineUse::Single);

/// Loads the main window from url and runs the event loop. Ends with -1 when the root object
/// cannot be created; otherwise with the event loop's exit code.
int runMainWindow(QCoreApplication &app, const QUrl &url);
