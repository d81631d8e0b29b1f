#include "exceptions/amounts.h"
#include "exceptions/ruleengine.h"
#include "exceptions/rules.h"

#include "testutil.h"

#include <QSettings>
#include <QtTest>

#include <ctime>

namespace {

/// A receipt with that text; the rest as the tests need it.
PosData receipt(const QString &text, const QString &receivedAt = QString(), const QString &till = QString())
{
    PosData data;
    data.content = text;
    data.receivedAtText = receivedAt;
    data.createdAt = QDateTime::fromString(receivedAt, Qt::ISODate);
    data.tillName = till;
    return data;
}

Rule rule(const QString &name, const QString &pattern, Rule::Syntax syntax = Rule::Syntax::Words)
{
    Rule made;
    made.name = name;
    made.pattern = pattern;
    made.syntax = syntax;
    return made;
}

/// The hits on one receipt as "rule name@line:line text".
QStringList hitsOn(const RuleEngine &engine, const PosData &data)
{
    QStringList out;
    for (const RuleHit &hit : engine.evaluate(data))
        out << QStringLiteral("%1@%2:%3").arg(engine.rules().at(hit.rule).name).arg(hit.line).arg(hit.lineText);
    return out;
}

QStringList namesOfHits(const RuleEngine &engine, const PosData &data)
{
    QStringList out;
    for (const RuleHit &hit : engine.evaluate(data))
        out << engine.rules().at(hit.rule).name;
    return out;
}

} // namespace

/// The rules of the Exceptions tab: amounts read from receipt lines, words and regular expressions,
/// conditions, rules that cannot work, the counts, and rule sets in files and settings.
class TestRules : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void lineAmounts_data();
    void lineAmounts();
    void writtenAmounts_data();
    void writtenAmounts();
    void words_data();
    void words();
    void regularExpressionsReportTheLineOfTheMatch();
    void rulesThatCannotWorkAreSkipped();
    void amountAndPaymentConditions_data();
    void amountAndPaymentConditions();
    void defaultRulesFindTheUsualWording_data();
    void defaultRulesFindTheUsualWording();
    void countsByRuleTillAndHour();
    void jsonRoundTrip();
    void importErrors_data();
    void importErrors();
    void settingsRoundTrip();
};

void TestRules::initTestCase()
{
    // The hours counted are the machine's; Berlin is two hours ahead of UTC in June.
    qputenv("TZ", "Europe/Berlin");
    tzset();
}

void TestRules::lineAmounts_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<qint64>("cents"); // -1: no amount
    const qint64 none = -1;
    QTest::newRow("point") << "TOTAL EUR          12.50" << qint64(1250);
    QTest::newRow("comma") << "SUMME            12,50" << qint64(1250);
    QTest::newRow("thousands by point") << "TOTAL 1.234,50" << qint64(123450);
    QTest::newRow("thousands by comma") << "TOTAL 1,234.50" << qint64(123450);
    QTest::newRow("millions") << "TOTAL 1,234,567.89" << qint64(123456789);
    QTest::newRow("minus before") << "REFUND          -3.00" << qint64(-300);
    QTest::newRow("trailing minus") << "REFUND           3.00-" << qint64(-300);
    QTest::newRow("unicode minus") << "REFUND          \u22123.00" << qint64(-300);
    QTest::newRow("currency sign") << "TOTAL \u20ac12.50" << qint64(1250);
    QTest::newRow("currency after a blank") << "TOTAL 12.50 EUR" << qint64(1250);
    QTest::newRow("quantity: the line's amount is the last") << "  2 x 1.99                  3.98" << qint64(398);
    QTest::newRow("discount with a percentage") << "DISCOUNT 10%               -2.35" << qint64(-235);
    QTest::newRow("a cent") << "CHANGE 0.01" << qint64(1);

    QTest::newRow("date") << "12.05.2026" << none;
    QTest::newRow("short date") << "Valid until 12.05." << none;
    QTest::newRow("date and time") << "12.05.2026 14:03:22        Anna" << none;
    QTest::newRow("time with hundredths") << "14:03:22.50" << none;
    QTest::newRow("receipt number") << "Receipt #0042" << none;
    QTest::newRow("receipt number with decimals") << "Receipt #12.50" << none;
    QTest::newRow("number word") << "No. 12345" << none;
    QTest::newRow("article number") << "Till 1           No. 261207-0028" << none;
    QTest::newRow("quantity glued to its unit price") << "Mineral water 6x1.99" << none;
    QTest::newRow("unit glued on") << "Olive oil 0.75l" << none;
    QTest::newRow("one decimal") << "Zubrowka 0.5 l" << none;
    QTest::newRow("three decimals") << "Weight 1.234 kg" << none;
    QTest::newRow("percentage") << "VAT 19.00%" << none;
    QTest::newRow("date by slashes") << "05/12/26" << none;
    QTest::newRow("phone") << "Tel. 0431 555 0182" << none;
    QTest::newRow("mixed marks") << "1.234.50" << none;
    QTest::newRow("groups of two") << "12,34,56.00" << none;
    QTest::newRow("nothing") << "Thank you for your visit!" << none;
    QTest::newRow("weight then amount") << "Olive oil 0.75l            7.99" << qint64(799);
    QTest::newRow("date then amount") << "12.05.2026  CASH  20.00" << qint64(2000);
}

void TestRules::lineAmounts()
{
    QFETCH(QString, line);
    QFETCH(qint64, cents);
    const std::optional<qint64> amount = amounts::lineAmount(line);
    QCOMPARE(amount.value_or(-1), cents);
}

void TestRules::writtenAmounts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("cents"); // -1: not an amount
    QTest::newRow("as the simulator writes it") << "-64.95" << qint64(-6495);
    QTest::newRow("whole") << "23" << qint64(2300);
    QTest::newRow("one decimal") << "23.5" << qint64(2350);
    QTest::newRow("comma, blanks") << " 12,50 " << qint64(1250);
    QTest::newRow("thousands") << "1.234,50" << qint64(123450);
    QTest::newRow("trailing minus") << "3.00-" << qint64(-300);
    QTest::newRow("three decimals") << "1.234" << qint64(-1);
    QTest::newRow("exponent") << "1e2" << qint64(-1);
    QTest::newRow("point alone at the end") << "23." << qint64(-1);
    QTest::newRow("empty") << "" << qint64(-1);
    QTest::newRow("words") << "cash" << qint64(-1);
}

void TestRules::writtenAmounts()
{
    QFETCH(QString, text);
    QFETCH(qint64, cents);
    QCOMPARE(amounts::parseAmount(text).value_or(-1), cents);
}

void TestRules::words_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("line"); // -1: no match

    const QString receiptText = "SHOP\n*** Refund ***\nREFUNDED\n";
    QTest::newRow("a whole word, any case") << "REFUND" << receiptText << 1;
    QTest::newRow("not inside a longer word") << "REFUND"
                                              << "NONREFUNDABLE\nREFUNDED" << -1;
    QTest::newRow("a star matches words it begins") << "REFUND*"
                                                    << "NONREFUNDABLE\nREFUNDED" << 1;
    QTest::newRow("a star still needs the start of a word") << "FUND*"
                                                            << "REFUNDED" << -1;
    QTest::newRow("a phrase across separators") << "NO SALE"
                                                << "x\n** No-Sale **" << 1;
    QTest::newRow("a phrase not across lines") << "NO SALE"
                                               << "NO\nSALE" << -1;
    QTest::newRow("a phrase's words next to each other") << "NO SALE"
                                                         << "NO CASH SALE" << -1;
    QTest::newRow("the first of several phrases to appear") << "VOID, CANCEL*"
                                                            << "a\nCancelled\nVOID" << 1;
    QTest::newRow("letters beyond ASCII") << "ÄPFEL"
                                          << "Kasse\näpfel Elstar" << 1;
    QTest::newRow("a digit is part of a word") << "TILL 1"
                                               << "TILL 12" << -1;
    QTest::newRow("an underscore separates") << "PRICE OVERRIDE"
                                             << "PRICE_OVERRIDE" << 0;
    QTest::newRow("carriage returns") << "VOID"
                                      << "a\r\nVOID\r\n"
                                      << 1;
}

void TestRules::words()
{
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(int, line);
    const RuleEngine engine({ rule("r", pattern) });
    QVERIFY(engine.problem(0).isEmpty());
    const QVector<RuleHit> hits = engine.evaluate(receipt(text));
    QCOMPARE(hits.isEmpty() ? -1 : hits.constFirst().line, line);
    if (!hits.isEmpty())
        QCOMPARE(hits.constFirst().lineText, text.split('\n').at(line).trimmed());
}

void TestRules::regularExpressionsReportTheLineOfTheMatch()
{
    const RuleEngine engine({ rule("anchored", "^total\\s+eur\\s+-", Rule::Syntax::RegularExpression),
        rule("any script", "\\bpâté\\b", Rule::Syntax::RegularExpression) });
    const PosData refund = receipt("SHOP\nPÂTÉ de campagne 3.19\nTOTAL EUR  3.19\nTOTAL EUR  -3.19");
    QCOMPARE(
        hitsOn(engine, refund), QStringList({ "anchored@3:TOTAL EUR  -3.19", "any script@1:PÂTÉ de campagne 3.19" }));
    QCOMPARE(hitsOn(engine, receipt("SHOP\nTOTAL EUR 3.19")), QStringList());
}

void TestRules::rulesThatCannotWorkAreSkipped()
{
    Rule amountWithoutLabel = rule("amount without label", "REFUND");
    amountWithoutLabel.amount = AmountCondition();
    Rule off = rule("switched off", "REFUND");
    off.enabled = false;
    const RuleEngine engine({ rule("bad expression", "REFUND(", Rule::Syntax::RegularExpression), rule("empty", "  "),
        rule("only separators", ", - ,"), rule("star inside", "RE*FUND"), amountWithoutLabel, off,
        rule("refund", "REFUND"), rule("good expression", "ref+und", Rule::Syntax::RegularExpression) });
    QVERIFY2(engine.problem(0).contains("does not compile"), qPrintable(engine.problem(0)));
    QCOMPARE(engine.problem(1), QString("the pattern is empty"));
    QCOMPARE(engine.problem(2), QString("the pattern has no words"));
    QCOMPARE(engine.problem(3), QString("\"*\" may only end a word"));
    QCOMPARE(engine.problem(4), QString("the amount's label: the pattern has no words"));
    QCOMPARE(engine.problem(5), QString()); // able to work, but off
    QCOMPARE(engine.problem(6), QString());
    QCOMPARE(namesOfHits(engine, receipt("REFUND 3.00")), QStringList({ "refund", "good expression" }));
}

void TestRules::amountAndPaymentConditions_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("total");
    QTest::addColumn<QString>("payment");
    QTest::addColumn<QStringList>("fired");

    const QString cashRefund = "*** REFUND ***\nTOTAL EUR  -64.95\nCASH REFUND  -64.95";
    QTest::newRow("refund over 50 in cash, from the text") << cashRefund << ""
                                                           << "" << QStringList { "over 50", "cash" };
    QTest::newRow("the reply's total first") << cashRefund << "-12.00"
                                             << "" << QStringList { "cash", "under 20" };
    QTest::newRow("the reply's payment first") << cashRefund << ""
                                               << "card" << QStringList { "over 50" };
    QTest::newRow("payment compared without case") << cashRefund << ""
                                                   << "CASH" << QStringList { "over 50", "cash" };
    QTest::newRow("a total that is no amount: the text") << cashRefund << "n/a"
                                                         << "" << QStringList { "over 50", "cash" };
    QTest::newRow("trailing minus, by card") << "REFUND\nTOTAL  64.95-\nCARD"
                                             << ""
                                             << "" << QStringList { "over 50" };
    QTest::newRow("a small refund") << "REFUND\nSUBTOTAL 99.00\nTOTAL 9.99-"
                                    << ""
                                    << "" << QStringList { "under 20" };
    QTest::newRow("no labelled line with an amount") << "REFUND\nTOTAL\nCASH"
                                                     << ""
                                                     << "" << QStringList { "cash" };
    QTest::newRow("any labelled line will do") << "REFUND\nTOTAL 1.00\nTOTAL 80.00"
                                               << ""
                                               << "" << QStringList { "over 50", "under 20" };
}

void TestRules::amountAndPaymentConditions()
{
    QFETCH(QString, text);
    QFETCH(QString, total);
    QFETCH(QString, payment);
    QFETCH(QStringList, fired);
    Rule over50 = rule("over 50", "REFUND");
    over50.amount = AmountCondition { "TOTAL", AmountCondition::Comparison::AtLeast, 5000, true, true };
    Rule cash = rule("cash", "REFUND");
    cash.payment = "cash";
    Rule under20 = rule("under 20", "REFUND"); // -20.00 or more: a refund of less than 20
    under20.amount = AmountCondition { "TOTAL", AmountCondition::Comparison::AtLeast, -2000, false, true };
    const RuleEngine engine({ over50, cash, under20 });
    PosData data = receipt(text);
    data.total = total;
    data.payment = payment;
    QCOMPARE(namesOfHits(engine, data), fired);
}

void TestRules::defaultRulesFindTheUsualWording_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("fired");
    const QString sale = "SHOP\nMILK 1.19\nTOTAL 1.19\nCASH 5.00\nCHANGE 3.81\nReturns accepted within 30 days";
    QTest::newRow("a sale") << sale << QStringList();
    QTest::newRow("refund") << "SHOP\nREFUND\nMILK -1.19\nTOTAL -1.19\nCARD -1.19" << QStringList { "Refund" };
    QTest::newRow("return") << "SHOP\nItem return\nMILK 1.19-" << QStringList { "Refund" };
    QTest::newRow("refunded") << "Refunded to card" << QStringList { "Refund" };
    QTest::newRow("large cash refund") << "SHOP\nRETURN\nCOFFEE -64.95\nTOTAL -64.95\nCASH -64.95"
                                       << QStringList { "Refund", "Cash refund over 50" };
    QTest::newRow("void") << "SHOP\nMILK 1.19\n*** VOID ***" << QStringList { "Void/cancel" };
    QTest::newRow("voided") << "Line voided: MILK" << QStringList { "Void/cancel" };
    QTest::newRow("cancelled") << "SALE CANCELLED" << QStringList { "Void/cancel" };
    QTest::newRow("canceled") << "Transaction canceled" << QStringList { "Void/cancel" };
    QTest::newRow("storno") << "STORNO Milch 1,19-" << QStringList { "Void/cancel" };
    QTest::newRow("no sale") << "*** NO SALE ***" << QStringList { "No sale" };
    QTest::newRow("drawer opened") << "Drawer opened" << QStringList { "No sale" };
    QTest::newRow("drawer open") << "DRAWER OPEN" << QStringList { "No sale" };
    QTest::newRow("discount") << "STAFF DISCOUNT 10% -2.35" << QStringList { "Discount/override" };
    QTest::newRow("price override") << "  PRICE OVERRIDE was 2.29" << QStringList { "Discount/override" };
    QTest::newRow("markdown") << "Markdown -0.50" << QStringList { "Discount/override" };
}

void TestRules::defaultRulesFindTheUsualWording()
{
    QFETCH(QString, text);
    QFETCH(QStringList, fired);
    const RuleEngine engine(defaultRules());
    for (int r = 0; r < engine.rules().size(); ++r)
        QVERIFY2(engine.problem(r).isEmpty(), qPrintable(engine.problem(r)));
    QCOMPARE(namesOfHits(engine, receipt(text)), fired);
}

void TestRules::countsByRuleTillAndHour()
{
    // Counted by hand: refunds on Till 1 at 08:xx and 09:xx Berlin time, one of them in cash over 50;
    // a void on Till 2 at 09:59:50 Berlin time, whose till is 20 s fast; a sale; a no-sale without a time.
    const RuleEngine engine(defaultRules());
    const QList<PosData> receipts {
        receipt("REFUND\nTOTAL -5.00", "2026-06-01T06:10:00Z", "Till 1"),
        receipt("SALE\nTOTAL 5.00", "2026-06-01T06:20:00Z", "Till 1"),
        receipt("REFUND\nTOTAL -60.00\nCASH", "2026-06-01T07:30:00+00:00", "Till 1"),
        receipt("VOID", "2026-06-01T10:00:10+02:00", "Till 2"),
        receipt("NO SALE", "", "Till 2"),
    };
    const QVector<FlaggedReceipt> flagged = engine.evaluate(receipts);
    QCOMPARE(flagged.size(), 4);
    QCOMPARE(flagged.at(1).receipt, 2);
    QCOMPARE(flagged.at(1).hits.size(), 2);

    const FlagCounts counts = countFlags(receipts, flagged, engine.rules().size());
    QCOMPARE(counts.byRule, (QVector<int> { 2, 1, 1, 0, 1 }));
    QCOMPARE(counts.receipts, 4);
    QCOMPARE(counts.byTill.size(), 2);
    QCOMPARE(counts.byTill.at(0).name, QString("Till 1"));
    QCOMPARE(counts.byTill.at(0).flags, 3);
    QCOMPARE(counts.byTill.at(1).name, QString("Till 2"));
    QCOMPARE(counts.byTill.at(1).flags, 2);
    std::array<int, 24> hours {};
    hours[8] = 1;
    hours[9] = 2;
    hours[10] = 1;
    QCOMPARE(counts.byHour, hours);
    QCOMPARE(counts.withoutTime, 1);

    // With Till 2's clock set right, its void happened in the hour before.
    const FlagCounts corrected = countFlags(receipts, flagged, engine.rules().size(),
        [](const PosData &data) { return data.tillName == "Till 2" ? data.createdAt.addSecs(-20) : data.createdAt; });
    hours[9] = 3;
    hours[10] = 0;
    QCOMPARE(corrected.byHour, hours);
    QCOMPARE(corrected.byRule, counts.byRule);
}

void TestRules::jsonRoundTrip()
{
    QVector<Rule> rules = defaultRules();
    Rule expression = rule("Big negative total", "^TOTAL.*-\\d{3,}", Rule::Syntax::RegularExpression);
    expression.enabled = false;
    expression.amount = AmountCondition { "TOTAL EUR", AmountCondition::Comparison::AtMost, -123456, false, false };
    rules << expression << rule("Ünïcode \"quoted\"", "ÄPFEL, CRÈME*");
    rules << rule("Cannot work", "BAD(", Rule::Syntax::RegularExpression);

    const QByteArray json = rulesToJson(rules);
    QString error;
    const std::optional<QVector<Rule>> back = rulesFromJson(json, &error);
    QVERIFY2(back, qPrintable(error));
    QCOMPARE(*back, rules); // a rule that cannot work travels too; the editor shows why
    QCOMPARE(rulesToJson(*back), json);
    QVERIFY(json.contains("\"format\": \"tillmark-rules\"") && json.contains("\"version\": 1"));
    QVERIFY(json.contains("\"value\": -1234.56"));

    const std::optional<QVector<Rule>> fromVariant = rulesFromVariant(rulesToVariant(rules), &error);
    QVERIFY2(fromVariant, qPrintable(error));
    QCOMPARE(*fromVariant, rules);
}

void TestRules::importErrors_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error");
    auto file
        = [](const QByteArray &rules) { return R"({"format":"tillmark-rules","version":1,"rules":[)" + rules + "]}"; };
    const QByteArray good = R"({"name":"Refund","match":"words","pattern":"REFUND"})";

    QTest::newRow("not JSON") << QByteArray("{\"format\":") << "not a rules file: ";
    QTest::newRow("another format") << QByteArray(R"({"format":"x","version":1,"rules":[]})")
                                    << "not a rules file: \"format\" is not \"tillmark-rules\"";
    QTest::newRow("no version") << QByteArray(R"({"format":"tillmark-rules","rules":[]})")
                                << "the rules file has no version number";
    QTest::newRow("a later version")
        << QByteArray(R"({"format":"tillmark-rules","version":2,"rules":[]})")
        << "the rules file is of version 2, made by a later Tillmark; this one reads version 1";
    QTest::newRow("no rules") << QByteArray(R"({"format":"tillmark-rules","version":1})")
                              << "the rules file has no list of \"rules\"";
    QTest::newRow("unknown key at the top") << QByteArray(R"({"format":"tillmark-rules","version":1,"rules":[],"x":1})")
                                            << "the rules file has an unknown key \"x\"";
    QTest::newRow("a rule that is no object") << file(good + ",3") << "rule 2 is not an object";
    QTest::newRow("no name") << file(R"({"match":"words","pattern":"X"})") << "rule 1: \"name\" is missing";
    QTest::newRow("empty name") << file(R"({"name":" ","match":"words","pattern":"X"})") << "rule 1: the name is empty";
    QTest::newRow("a name twice") << file(good + "," + good) << "rule 2 (\"Refund\"): another rule has that name";
    QTest::newRow("a typo in a key") << file(R"({"name":"A","match":"words","patern":"X"})")
                                     << "rule 1 (\"A\"): unknown key \"patern\"";
    QTest::newRow("unknown match") << file(R"({"name":"A","match":"glob","pattern":"X"})")
                                   << "rule 1 (\"A\"): \"match\" must be \"words\" or \"regex\", not \"glob\"";
    QTest::newRow("pattern not text") << file(R"({"name":"A","match":"words","pattern":5})")
                                      << "rule 1 (\"A\"): \"pattern\" must be text";
    QTest::newRow("enabled as text") << file(R"({"name":"A","match":"words","pattern":"X","enabled":"yes"})")
                                     << "rule 1 (\"A\"): \"enabled\" must be true or false";
    const QByteArray amountRule = R"({"name":"A","match":"words","pattern":"X","amount":)";
    QTest::newRow("amount not an object") << file(amountRule + "50}") << "rule 1 (\"A\"): \"amount\" must be an object";
    QTest::newRow("amount without label")
        << file(amountRule + R"({"compare":">=","value":50}})") << "rule 1 (\"A\"): \"label\" is missing";
    QTest::newRow("unknown comparison") << file(amountRule + R"({"label":"TOTAL","compare":">","value":50}})")
                                        << "rule 1 (\"A\"): \"compare\" must be \">=\" or \"<=\", not \">\"";
    QTest::newRow("value as text") << file(amountRule + R"({"label":"TOTAL","compare":">=","value":"50"}})")
                                   << "rule 1 (\"A\"): \"value\" must be an amount such as 50 or -12.50";
    QTest::newRow("value of three decimals") << file(amountRule + R"({"label":"TOTAL","compare":">=","value":50.125}})")
                                             << "rule 1 (\"A\"): \"value\" 50.125 has more than two decimals";
    QTest::newRow("unknown key in the amount")
        << file(amountRule + R"({"label":"TOTAL","compare":">=","value":5,"abs":true}})")
        << "rule 1 (\"A\"): unknown key \"abs\" in \"amount\"";
}

void TestRules::importErrors()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    QString said;
    QVERIFY(!rulesFromJson(json, &said));
    QVERIFY2(said.startsWith(error), qPrintable(said));
}

void TestRules::settingsRoundTrip()
{
    WorkDir dir;
    const QString path = dir.filePath("settings.ini");
    QVector<Rule> rules = defaultRules();
    rules[1].enabled = false;
    rules << rule("Expression, with a comma", "^(VOID|STORNO)\\b", Rule::Syntax::RegularExpression);
    {
        QSettings settings(path, QSettings::IniFormat);
        QString error;
        QCOMPARE(loadRules(settings, &error), defaultRules()); // nothing saved yet
        QVERIFY(error.isEmpty());
        saveRules(settings, rules);
    }
    {
        // Read back from the file, where numbers and booleans are text.
        QSettings settings(path, QSettings::IniFormat);
        QString error;
        QCOMPARE(loadRules(settings, &error), rules);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // Saving fewer rules leaves none of the old ones behind.
        saveRules(settings, rules.mid(0, 2));
        QCOMPARE(loadRules(settings), rules.mid(0, 2));
        // Damaged: the defaults, and why.
        settings.setValue("exceptionRules/rules/2/match", "glob"); // array entries count from 1
        QCOMPARE(loadRules(settings, &error), defaultRules());
        QVERIFY2(error.contains("rule 2") && error.contains("\"match\""), qPrintable(error));
    }
}

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
