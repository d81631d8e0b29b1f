#include "core/appstate.h"

#include <QFile>
#include <QtTest>

/// The settings: one change signal per real change, values stored exactly as given.
class TestAppState : public QObject
{
    Q_OBJECT
private slots:
    void defaults();
    void stringSetters_data();
    void stringSetters();
    void handlerSeesNewValue();
    void timezoneOffset();
    void firstInstanceStaysRegistered();
    void currentFileAndPath();
};

void TestAppState::defaults()
{
    AppState state;
    QCOMPARE(state.posBase(), QString("http://localhost:8000"));
    QCOMPARE(state.base(), QString("http://localhost:7001"));
    QCOMPARE(state.user(), QString("admin"));
    QCOMPARE(state.password(), QString("Pelmo4826"));
    QCOMPARE(state.timezoneOffsetMS(), 0);
    QCOMPARE(state.currentFile(), nullptr);
    QCOMPARE(state.currentFilePath(), QString());
}

void TestAppState::stringSetters_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::newRow("posBase") << QByteArray("posBase");
    QTest::newRow("base") << QByteArray("base");
    QTest::newRow("user") << QByteArray("user");
    QTest::newRow("password") << QByteArray("password");
}

// Each string property through the meta-object, as QML reaches it.
void TestAppState::stringSetters()
{
    QFETCH(QByteArray, property);
    AppState state;
    const QMetaProperty meta = state.metaObject()->property(state.metaObject()->indexOfProperty(property));
    QSignalSpy spy(&state, meta.notifySignal());

    QVERIFY(meta.write(&state, QString("Value")));
    QCOMPARE(spy.count(), 1);
    QVERIFY(meta.write(&state, QString("Value")));
    QCOMPARE(spy.count(), 1); // equal value: no signal
    QVERIFY(meta.write(&state, QString("value")));
    QCOMPARE(spy.count(), 2); // case matters
    QVERIFY(meta.write(&state, QString(" value ")));
    QCOMPARE(spy.count(), 3); // nothing trimmed
    QCOMPARE(meta.read(&state).toString(), QString(" value "));
    QVERIFY(meta.write(&state, QString()));
    QCOMPARE(spy.count(), 4);
    QCOMPARE(meta.read(&state).toString(), QString());
}

void TestAppState::handlerSeesNewValue()
{
    AppState state;
    QString seen;
    connect(&state, &AppState::baseChanged, this, [&] { seen = state.base(); });
    state.setBase("http://h:1");
    QCOMPARE(seen, QString("http://h:1"));
}

void TestAppState::timezoneOffset()
{
    AppState state;
    QSignalSpy spy(&state, &AppState::timezoneOffsetMSChanged);
    state.setTimezoneOffsetMS(0);
    QCOMPARE(spy.count(), 0);
    state.setTimezoneOffsetMS(-18000000);
    state.setTimezoneOffsetMS(-18000000);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(state.timezoneOffsetMS(), -18000000);
    // Not writable from QML.
    const QMetaProperty meta = state.metaObject()->property(state.metaObject()->indexOfProperty("timezoneOffsetMS"));
    QVERIFY(!meta.isWritable());
}

void TestAppState::firstInstanceStaysRegistered()
{
    // Earlier tests' settings are gone, and with them their registration.
    QCOMPARE(AppState::get(), nullptr);
    {
        AppState first;
        QCOMPARE(AppState::get(), &first);
        {
            AppState second;
            QCOMPARE(AppState::get(), &first);
        }
        QCOMPARE(AppState::get(), &first);
    }
    QCOMPARE(AppState::get(), nullptr);
    AppState next;
    QCOMPARE(AppState::get(), &next);
}

void TestAppState::currentFileAndPath()
{
    AppState state;
    QFile file("x");
    state.setCurrentFilePath("download.mkv");
    state.setCurrentFile(&file);
    QCOMPARE(state.currentFile(), &file);
    state.setCurrentFile(nullptr);
    QCOMPARE(state.currentFile(), nullptr);
    QCOMPARE(state.currentFilePath(), QString("download.mkv"));
}

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
