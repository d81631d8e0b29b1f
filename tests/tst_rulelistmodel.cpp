#include "exceptions/rulelistmodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

/// The rules editor's list: edits the way a rules file would take them, or not at all.
class TestRuleListModel : public QObject
{
    Q_OBJECT
private slots:
    void editsThatAFileCouldHold();
    void addRemoveImportExport();
};

void TestRuleListModel::editsThatAFileCouldHold()
{
    RuleListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setRules(defaultRules());
    QSignalSpy changed(&model, &RuleListModel::rulesChanged);
    QSignalSpy rows(&model, &QAbstractItemModel::dataChanged);

    const QVariantMap cashRefund = model.get(4);
    QCOMPARE(cashRefund.value("name").toString(), QString("Cash refund over 50"));
    QCOMPARE(cashRefund.value("amountValue").toDouble(), 50.0);
    QCOMPARE(cashRefund.value("amountCompare").toString(), QString(">="));
    QCOMPARE(cashRefund.value("payment").toString(), QString("cash"));
    QCOMPARE(cashRefund.value("problem").toString(), QString());

    // A regular expression that does not compile is kept, with the reason on its row.
    QVERIFY(model.setField(1, "match", "regex"));
    QVERIFY(model.setField(1, "pattern", "VOID("));
    QVERIFY(model.get(1).value("problem").toString().contains("does not compile"));
    QCOMPARE(model.rules().at(1).syntax, Rule::Syntax::RegularExpression);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(rows.count(), 2);
    QCOMPARE(rows.at(1).at(0).value<QModelIndex>().row(), 1);

    // Refused, and nothing changes: what a file could not hold.
    const QVector<Rule> before = model.rules();
    QVERIFY(!model.setField(0, "name", "No sale"));
    QVERIFY(model.lastError().contains("another rule has that name"));
    QVERIFY(!model.setField(4, "amountValue", 12.345));
    QVERIFY(model.lastError().contains("more than two decimals"));
    QVERIFY(!model.setField(4, "amountCompare", "="));
    QVERIFY(!model.setField(0, "problem", "none"));
    QVERIFY(!model.setField(9, "name", "x"));
    QCOMPARE(model.rules(), before);
    QCOMPARE(changed.count(), 2);

    // The same value again changes nothing either.
    QVERIFY(model.setField(0, "pattern", before.at(0).pattern));
    QCOMPARE(changed.count(), 2);

    // An amount added, set and taken off again; no payment is no payment.
    QVERIFY(model.setField(0, "hasAmount", true));
    QCOMPARE(model.rules().at(0).amount->label, QString("TOTAL"));
    QVERIFY(model.setField(0, "amountValue", -12.5));
    QVERIFY(model.setField(0, "amountAbsolute", true));
    QCOMPARE(model.rules().at(0).amount->cents, qint64(-1250));
    QVERIFY(model.rules().at(0).amount->absolute);
    QVERIFY(model.setField(0, "hasAmount", false));
    QVERIFY(!model.rules().at(0).amount);
    QVERIFY(model.setField(4, "payment", ""));
    QVERIFY(model.rules().at(4).payment.isEmpty());
}

void TestRuleListModel::addRemoveImportExport()
{
    RuleListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy count(&model, &RuleListModel::countChanged);
    QCOMPARE(model.addRule(), 0);
    QCOMPARE(model.addRule(), 1);
    QCOMPARE(model.get(0).value("name").toString(), QString("New rule"));
    QCOMPARE(model.get(1).value("name").toString(), QString("New rule 2"));
    QCOMPARE(model.get(1).value("problem").toString(), QString("the pattern is empty"));
    QCOMPARE(count.count(), 2);

    model.removeRule(0);
    QCOMPARE(model.count(), 1);
    QCOMPARE(model.get(0).value("name").toString(), QString("New rule 2"));

    // A file that cannot be read leaves the rules as they were.
    QVERIFY(!model.importJson("{\"format\":\"tillmark-rules\",\"version\":1,\"rules\":[{\"name\":\"A\"}]}"));
    QVERIFY(model.lastError().startsWith("rule 1 (\"A\")"));
    QCOMPARE(model.count(), 1);

    RuleListModel other;
    other.restoreDefaults();
    QVERIFY(model.importJson(other.exportJson()));
    QCOMPARE(model.rules(), defaultRules());
    QCOMPARE(count.count(), 4);
}

QTEST_GUILESS_MAIN(TestRuleListModel)
#include "tst_rulelistmodel.moc"
