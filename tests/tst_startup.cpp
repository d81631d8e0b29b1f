#include "app/startup.h"
#include "core/appstate.h"
#include "testutil.h"

#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

/// Start-up: the exit code when the window cannot be made, and the module the QML sees.
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void brokenMainFileEndsWithMinusOne_data();
    void brokenMainFileEndsWithMinusOne();
    void goodMainFileKeepsRunning();
    void qmlAndCodeShareTheSettings();
    void namesAreCaseSensitive();
    void eachDeclarationGetsItsOwnObject();

private:
    QString runChild(const QString &url, const QStringList &extra, int *exitCode);
    Singletons m_singletons;
};

void TestStartup::initTestCase()
{
    m_singletons = createSingletons();
    registerQmlTypes(m_singletons, EngineUse::Many); // several engines below; the child runs the program's way
}

QString TestStartup::runChild(const QString &url, const QStringList &extra, int *exitCode)
{
    QProcess child;
    child.start(STARTUP_CHILD, QStringList { url } + extra);
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished();
        return "timed out";
    }
    *exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 999;
    return QString::fromUtf8(child.readAllStandardOutput()).trimmed();
}

void TestStartup::brokenMainFileEndsWithMinusOne_data()
{
    QTest::addColumn<QByteArray>("qml");
    QTest::newRow("syntax error") << QByteArray("import QtQuick 2.15\nItem { width: }\n");
    QTest::newRow("unknown type") << QByteArray("import QtQuick 2.15\nNoSuchThing { }\n");
    QTest::newRow("missing module") << QByteArray("import No.Such.Module 1.0\nItem { }\n");
    QTest::newRow("missing file") << QByteArray();
}

void TestStartup::brokenMainFileEndsWithMinusOne()
{
    QFETCH(QByteArray, qml);
    WorkDir dir;
    if (!qml.isEmpty())
        QVERIFY(writeFile("main.qml", qml));
    int code = 0;
    const QString out = runChild(QUrl::fromLocalFile(dir.filePath("main.qml")).toString(), {}, &code);
    QCOMPARE(code, -1 & 0xff);
    QCOMPARE(out, QString("exit=-1 windows=0"));
    // The engine's complaint went to the log file.
    QVERIFY(readFile("logs.txt").contains("main.qml"));
}

void TestStartup::goodMainFileKeepsRunning()
{
    WorkDir dir;
    int code = -5;
    // The real window: still running after two seconds, when the child quits by itself.
    const QString out = runChild("qrc:/main.qml", { "2000" }, &code);
    QCOMPARE(out, QString("exit=0 windows=1"));
    QCOMPARE(code, 0);
    // A window that loads cleanly logs no QML warnings.
    QVERIFY2(!readFile("logs.txt").contains("qrc:/"), readFile("logs.txt").constData());
}

void TestStartup::qmlAndCodeShareTheSettings()
{
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(
        "import QtQml 2.15\nimport Tillmark 1.0\n"
        "QtObject { Component.onCompleted: { AppState.user = 'from QML'; AppState.base = 'http://h:1' } }",
        QUrl());
    QScopedPointer<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(AppState::get(), m_singletons.appState);
    QCOMPARE(AppState::get()->user(), QString("from QML"));
    QCOMPARE(AppState::get()->base(), QString("http://h:1"));
}

void TestStartup::namesAreCaseSensitive()
{
    QQmlEngine engine;
    QQmlComponent good(&engine);
    good.setData("import QtQml 2.15\nimport Tillmark 1.0\nQtObject { property string u: AppState.user }", QUrl());
    QScopedPointer<QObject> object(good.create());
    QVERIFY(object);
    QQmlComponent bad(&engine);
    bad.setData("import QtQml 2.15\nimport Tillmark 1.0\nQtObject { property var a: ApiCall { } ; property var b: "
                "apiCall { } }",
        QUrl());
    QVERIFY(bad.isError());
    QQmlComponent wrongVersion(&engine);
    wrongVersion.setData("import QtQml 2.15\nimport Tillmark 2.0\nQtObject { }", QUrl());
    QVERIFY(wrongVersion.isError());
}

void TestStartup::eachDeclarationGetsItsOwnObject()
{
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQml 2.15\nimport Tillmark 1.0\n"
                      "QtObject { property var a: ApiCall { } property var b: ApiCall { } }",
        QUrl());
    QScopedPointer<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QObject *a = object->property("a").value<QObject *>();
    QObject *b = object->property("b").value<QObject *>();
    QVERIFY(a && b);
    QVERIFY(a != b);
    QCOMPARE(QByteArray(a->metaObject()->className()), QByteArray("ApiCall"));
}

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
