#include "exceptions/exceptionrules.h"
#include "pos/receiptmarks.h"
#include "testutil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QtTest>
#include <QUrl>

/// The program's rules: kept in the settings, handed on as a rules file the way the dialog does it (a
/// file URL from the file dialog), nothing changed by an import that fails, and the marks they flag.
class TestExceptionRules : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void keptInTheSettings();
    void exportAndImportRoundTrip();
    void failedImportChangesNothing_data();
    void failedImportChangesNothing();
    void exportThatCannotBeWrittenSaysWhy();
    void marksNameTheirRules();

private:
    QString fileUrl(const QString &name) const { return QUrl::fromLocalFile(m_dir->filePath(name)).toString(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
};

void TestExceptionRules::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath("tillmark.ini"), QSettings::IniFormat);
}

void TestExceptionRules::keptInTheSettings()
{
    ExceptionRules rules;
    rules.useSettings(m_settings.get());
    QCOMPARE(rules.rules(), defaultRules());
    QVERIFY(!m_settings->contains("exceptionRules/version")); // the defaults are not written before a change
    QVERIFY(rules.list()->setField(1, "pattern", "VOID*, STORNO*"));
    rules.list()->removeRule(3);

    ExceptionRules next;
    next.useSettings(m_settings.get());
    QCOMPARE(next.rules(), rules.rules());
    QCOMPARE(next.rules().at(1).pattern, "VOID*, STORNO*");
    QVERIFY(next.loadProblem().isEmpty());

    // Rules saved that cannot be read: the defaults stand in, said so, and what was saved stays until a change.
    m_settings->setValue("exceptionRules/version", 99);
    ExceptionRules unreadable;
    unreadable.useSettings(m_settings.get());
    QCOMPARE(unreadable.rules(), defaultRules());
    QVERIFY(!unreadable.loadProblem().isEmpty());
    QCOMPARE(m_settings->value("exceptionRules/version").toInt(), 99);
}

void TestExceptionRules::exportAndImportRoundTrip()
{
    ExceptionRules rules;
    rules.useSettings(m_settings.get());
    RuleListModel *list = rules.list();
    const int added = list->addRule();
    QVERIFY(list->setField(added, "match", "regex"));
    QVERIFY(list->setField(added, "pattern", "^TOTAL\\s+-\\d"));
    QVERIFY(list->setField(added, "hasAmount", true));
    QVERIFY(list->setField(added, "amountValue", -12.5));
    QVERIFY(list->setField(0, "enabled", false));
    const QVector<Rule> exported = rules.rules();

    QVERIFY2(rules.exportToFile(fileUrl("chain rules.json")), qPrintable(rules.lastError()));
    QCOMPARE(readFile(m_dir->filePath("chain rules.json")), rulesToJson(exported));

    // Another store's rules, then the chain's file imported over them.
    list->restoreDefaults();
    list->removeRule(0);
    QSignalSpy changed(&rules, &ExceptionRules::rulesChanged);
    QVERIFY2(rules.importFromFile(fileUrl("chain rules.json")), qPrintable(rules.lastError()));
    QCOMPARE(rules.rules(), exported);
    QCOMPARE(changed.size(), 1);
    QVERIFY(rules.lastError().isEmpty());
    // Kept as the store's own.
    ExceptionRules next;
    next.useSettings(m_settings.get());
    QCOMPARE(next.rules(), exported);
}

void TestExceptionRules::failedImportChangesNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("said");
    QTest::newRow("no such file") << QByteArray() << "could not be read";
    QTest::newRow("not JSON") << QByteArray("REFUND, VOID") << "was not imported, and the rules are as they were";
    QJsonArray twice;
    for (int i = 0; i < 2; ++i)
        twice.append(QJsonObject { { "name", "Refund" }, { "match", "words" }, { "pattern", "REFUND" } });
    QTest::newRow("two rules of one name")
        << QJsonDocument(QJsonObject { { "format", "tillmark-rules" }, { "version", 1 }, { "rules", twice } }).toJson()
        << "rule 2 (\"Refund\"): another rule has that name";
    QTest::newRow("far too large") << QByteArray(5 * 1024 * 1024, ' ') << "far too large";
}

void TestExceptionRules::failedImportChangesNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, said);
    ExceptionRules rules;
    rules.useSettings(m_settings.get());
    QVERIFY(rules.list()->setField(0, "name", "Refunds"));
    const QVector<Rule> before = rules.rules();
    m_settings->sync();
    const QByteArray settingsBefore = readFile(m_settings->fileName());
    if (!content.isEmpty())
        QVERIFY(writeFile(m_dir->filePath("rules.json"), content));

    QSignalSpy changed(&rules, &ExceptionRules::rulesChanged);
    QVERIFY(!rules.importFromFile(fileUrl("rules.json")));
    QVERIFY2(rules.lastError().contains(said), qPrintable(rules.lastError()));
    QVERIFY2(rules.lastError().contains(QDir::toNativeSeparators(m_dir->filePath("rules.json"))),
        qPrintable(rules.lastError()));
    QCOMPARE(rules.rules(), before);
    QVERIFY(changed.isEmpty());
    m_settings->sync();
    QCOMPARE(readFile(m_settings->fileName()), settingsBefore);
}

void TestExceptionRules::exportThatCannotBeWrittenSaysWhy()
{
    ExceptionRules rules;
    QVERIFY(!rules.exportToFile(m_dir->filePath("no such folder/rules.json")));
    QVERIFY2(rules.lastError().startsWith("The rules could not be written to"), qPrintable(rules.lastError()));
    QVERIFY(!QFile::exists(m_dir->filePath("no such folder/rules.json")));
}

void TestExceptionRules::marksNameTheirRules()
{
    ScopedTimeZone zone("Europe/Berlin");
    ExceptionRules rules;
    ReceiptMarks marks;
    marks.setFlagger(&rules);
    const auto receipt = [](const QString &text, const QString &at) {
        return QJsonObject { { "text", text }, { "received_at", at },
            { "device",
                QJsonObject {
                    { "streams", QJsonArray { QJsonObject { { "nx_id", "{cam}" }, { "name", "Camera" } } } } } } };
    };
    marks.setMarksFromBody(QJsonDocument(QJsonArray { receipt("SALE\nTOTAL 1.00", "2021-06-01T10:00:00+02:00"),
                                             receipt("*** REFUND ***\nTOTAL -1.00", "2021-06-01T10:00:01+02:00"),
                                             receipt("*** NO SALE ***", "2021-06-01T15:00:00+02:00") })
                               .toJson(),
        "{cam}", QDate(2021, 6, 1));
    QCOMPARE(marks.count(), 3);
    QCOMPARE(marks.get(0).value("markFlags").toStringList(), QStringList());
    QCOMPARE(marks.get(1).value("markFlags").toStringList(), QStringList({ "Refund" }));
    QCOMPARE(marks.get(2).value("markFlags").toStringList(), QStringList({ "No sale" }));
    // The first two close together: one mark with one of two flagged; the third alone.
    const double dayStart = QDateTime(QDate(2021, 6, 1), QTime(0, 0)).toMSecsSinceEpoch();
    const QVariantList groups = marks.clusters(dayStart, 60000, 1440, 6);
    QCOMPARE(groups.size(), 2);
    QCOMPARE(groups.at(0).toMap().value("count").toInt(), 2);
    QCOMPARE(groups.at(0).toMap().value("flagged").toInt(), 1);
    QCOMPARE(groups.at(1).toMap().value("flagged").toInt(), 1);

    // A rule switched off: its marks lose the flag at once.
    QSignalSpy changed(&marks, &QAbstractItemModel::dataChanged);
    QVERIFY(rules.list()->setField(0, "enabled", false));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(marks.get(1).value("markFlags").toStringList(), QStringList());
    QCOMPARE(marks.clusters(dayStart, 60000, 1440, 6).at(0).toMap().value("flagged").toInt(), 0);
    // None to say why: no mark is flagged.
    marks.setFlagger(nullptr);
    QCOMPARE(marks.get(2).value("markFlags").toStringList(), QStringList());
}

QTEST_GUILESS_MAIN(TestExceptionRules)
#include "tst_exceptionrules.moc"
