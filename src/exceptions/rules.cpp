#include "exceptions/rules.h"

#include "exceptions/words.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>

#include <cmath>

namespace {

const QString Format = QStringLiteral("tillmark-rules");
constexpr int Version = 1;
const QString SettingsGroup = QStringLiteral("exceptionRules");
// Far beyond any till's amount, and well inside what cents in 64 bits and a double's exact integers hold.
constexpr double LargestValue = 1e12;

QString tr(const char *text)
{
    return QCoreApplication::translate("Rules", text);
}

/// The words every till uses for a refund: the rule of that name and the cash refund share them.
const QString RefundWords = QStringLiteral("REFUND*, RETURN, RETURNED, MONEY BACK");

Rule wordsRule(const QString &name, const QString &pattern)
{
    Rule rule;
    rule.name = name;
    rule.pattern = pattern;
    return rule;
}

QString syntaxName(Rule::Syntax syntax)
{
    return syntax == Rule::Syntax::Words ? QStringLiteral("words") : QStringLiteral("regex");
}

QString comparisonName(AmountCondition::Comparison comparison)
{
    return comparison == AmountCondition::Comparison::AtLeast ? QStringLiteral(">=") : QStringLiteral("<=");
}

/// Reads the maps of rulesToVariant, from JSON (strict: every value of its own type) or from settings
/// (loose: numbers and booleans may have turned into text). Stops at the first fault, naming it.
class RuleReader
{
public:
    explicit RuleReader(bool strict)
        : m_strict(strict)
    {
    }

    std::optional<QVector<Rule>> read(const QVariantList &list, QString *error)
    {
        QVector<Rule> rules;
        QSet<QString> names;
        for (int i = 0; i < list.size(); ++i) {
            m_where = tr("rule %1").arg(i + 1);
            if (list.at(i).type() != QVariant::Map) {
                *error = tr("%1 is not an object").arg(m_where);
                return std::nullopt;
            }
            const QVariantMap map = list.at(i).toMap();
            const QString name = map.value(QStringLiteral("name")).toString();
            if (map.value(QStringLiteral("name")).type() == QVariant::String && !name.trimmed().isEmpty())
                m_where += QStringLiteral(" (\"%1\")").arg(name);
            Rule rule;
            if (!readRule(map, &rule)) {
                *error = m_error;
                return std::nullopt;
            }
            if (names.contains(rule.name)) {
                *error = tr("%1: another rule has that name").arg(m_where);
                return std::nullopt;
            }
            names.insert(rule.name);
            rules.append(rule);
        }
        return rules;
    }

private:
    bool fault(const QString &what)
    {
        m_error = QStringLiteral("%1: %2").arg(m_where, what);
        return false;
    }

    bool onlyKeys(const QVariantMap &map, const QStringList &known, const QString &inside = QString())
    {
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (!known.contains(it.key()))
                return fault(tr("unknown key \"%1\"%2").arg(it.key(), inside));
        }
        return true;
    }

    bool text(const QVariantMap &map, const QString &key, bool required, QString *out)
    {
        if (!map.contains(key))
            return !required || fault(tr("\"%1\" is missing").arg(key));
        if (map.value(key).type() != QVariant::String)
            return fault(tr("\"%1\" must be text").arg(key));
        *out = map.value(key).toString();
        return true;
    }

    bool flag(const QVariantMap &map, const QString &key, bool *out)
    {
        if (!map.contains(key))
            return true;
        const QVariant value = map.value(key);
        if (value.type() == QVariant::Bool) {
            *out = value.toBool();
            return true;
        }
        const QString written = value.toString();
        if (!m_strict && value.type() == QVariant::String
            && (written == QLatin1String("true") || written == QLatin1String("false"))) {
            *out = written == QLatin1String("true");
            return true;
        }
        return fault(tr("\"%1\" must be true or false").arg(key));
    }

    bool readAmount(const QVariant &value, std::optional<AmountCondition> *out)
    {
        if (value.type() != QVariant::Map)
            return fault(tr("\"amount\" must be an object"));
        const QVariantMap map = value.toMap();
        const QString inside = tr(" in \"amount\"");
        if (!onlyKeys(map, { "label", "compare", "value", "absolute", "preferTotal" }, inside))
            return false;
        AmountCondition amount;
        QString compare;
        if (!text(map, QStringLiteral("label"), true, &amount.label)
            || !text(map, QStringLiteral("compare"), true, &compare))
            return false;
        if (amount.label.trimmed().isEmpty())
            return fault(tr("the amount's \"label\" is empty"));
        if (compare == QLatin1String(">="))
            amount.comparison = AmountCondition::Comparison::AtLeast;
        else if (compare == QLatin1String("<="))
            amount.comparison = AmountCondition::Comparison::AtMost;
        else
            return fault(tr("\"compare\" must be \">=\" or \"<=\", not \"%1\"").arg(compare));
        if (!map.contains(QStringLiteral("value")))
            return fault(tr("\"value\"%1 is missing").arg(inside));
        const QVariant written = map.value(QStringLiteral("value"));
        bool isNumber = written.type() == QVariant::Double || written.type() == QVariant::Int
            || written.type() == QVariant::LongLong;
        double number = written.toDouble();
        if (!isNumber && !m_strict && written.type() == QVariant::String)
            number = written.toString().toDouble(&isNumber);
        if (!isNumber || !std::isfinite(number) || std::abs(number) > LargestValue)
            return fault(tr("\"value\" must be an amount such as 50 or -12.50"));
        const double hundredths = number * 100;
        if (std::abs(hundredths - std::round(hundredths)) > 1e-6)
            return fault(tr("\"value\" %1 has more than two decimals").arg(number));
        amount.cents = qint64(std::llround(hundredths));
        if (!flag(map, QStringLiteral("absolute"), &amount.absolute)
            || !flag(map, QStringLiteral("preferTotal"), &amount.preferTotal))
            return false;
        *out = amount;
        return true;
    }

    bool readRule(const QVariantMap &map, Rule *rule)
    {
        if (!onlyKeys(map, { "name", "match", "pattern", "enabled", "payment", "amount" }))
            return false;
        QString match;
        if (!text(map, QStringLiteral("name"), true, &rule->name) || !text(map, QStringLiteral("match"), true, &match)
            || !text(map, QStringLiteral("pattern"), true, &rule->pattern)
            || !text(map, QStringLiteral("payment"), false, &rule->payment)
            || !flag(map, QStringLiteral("enabled"), &rule->enabled))
            return false;
        if (rule->name.trimmed().isEmpty())
            return fault(tr("the name is empty"));
        if (match == QLatin1String("words"))
            rule->syntax = Rule::Syntax::Words;
        else if (match == QLatin1String("regex"))
            rule->syntax = Rule::Syntax::RegularExpression;
        else
            return fault(tr("\"match\" must be \"words\" or \"regex\", not \"%1\"").arg(match));
        if (map.contains(QStringLiteral("amount")) && !readAmount(map.value(QStringLiteral("amount")), &rule->amount))
            return false;
        return true;
    }

    bool m_strict;
    QString m_where;
    QString m_error;
};

} // namespace

QVector<Rule> defaultRules()
{
    Rule cashRefund = wordsRule(QStringLiteral("Cash refund over 50"), RefundWords);
    cashRefund.payment = QStringLiteral("cash");
    AmountCondition over50;
    over50.label = QStringLiteral("TOTAL");
    over50.comparison = AmountCondition::Comparison::AtLeast;
    over50.cents = 5000;
    over50.absolute = true;
    over50.preferTotal = true;
    cashRefund.amount = over50;
    return {
        wordsRule(QStringLiteral("Refund"), RefundWords),
        wordsRule(QStringLiteral("Void/cancel"), QStringLiteral("VOID*, CANCEL*, STORNO*")),
        wordsRule(QStringLiteral("No sale"), QStringLiteral("NO SALE, NOSALE, DRAWER OPEN*, OPEN DRAWER")),
        wordsRule(
            QStringLiteral("Discount/override"), QStringLiteral("DISCOUNT*, OVERRIDE*, MARKDOWN*, PRICE CHANGE*")),
        cashRefund,
    };
}

QString ruleProblem(const Rule &rule)
{
    QString problem;
    if (rule.pattern.trimmed().isEmpty())
        return tr("the pattern is empty");
    if (rule.syntax == Rule::Syntax::RegularExpression) {
        const QRegularExpression expression = ruleExpression(rule.pattern);
        if (!expression.isValid()) {
            return tr("the regular expression does not compile: %1 at %2")
                .arg(expression.errorString())
                .arg(expression.patternErrorOffset());
        }
    } else {
        words::parse(rule.pattern, &problem);
        if (!problem.isEmpty())
            return problem;
    }
    if (rule.amount) {
        words::parse(rule.amount->label, &problem);
        if (!problem.isEmpty())
            return tr("the amount's label: %1").arg(problem);
    }
    if (!rule.payment.isEmpty()) {
        words::parse(rule.payment, &problem);
        if (!problem.isEmpty())
            return tr("the payment: %1").arg(problem);
    }
    return QString();
}

QRegularExpression ruleExpression(const QString &pattern)
{
    return QRegularExpression(pattern,
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption
            | QRegularExpression::UseUnicodePropertiesOption);
}

QVariantList rulesToVariant(const QVector<Rule> &rules)
{
    QVariantList list;
    for (const Rule &rule : rules) {
        QVariantMap map { { QStringLiteral("name"), rule.name }, { QStringLiteral("match"), syntaxName(rule.syntax) },
            { QStringLiteral("pattern"), rule.pattern }, { QStringLiteral("enabled"), rule.enabled } };
        if (!rule.payment.isEmpty())
            map.insert(QStringLiteral("payment"), rule.payment);
        if (rule.amount) {
            map.insert(QStringLiteral("amount"),
                QVariantMap { { QStringLiteral("label"), rule.amount->label },
                    { QStringLiteral("compare"), comparisonName(rule.amount->comparison) },
                    { QStringLiteral("value"), double(rule.amount->cents) / 100 },
                    { QStringLiteral("absolute"), rule.amount->absolute },
                    { QStringLiteral("preferTotal"), rule.amount->preferTotal } });
        }
        list.append(map);
    }
    return list;
}

std::optional<QVector<Rule>> rulesFromVariant(const QVariantList &list, QString *error)
{
    return RuleReader(false).read(list, error);
}

QByteArray rulesToJson(const QVector<Rule> &rules)
{
    const QJsonObject document { { QStringLiteral("format"), Format }, { QStringLiteral("version"), Version },
        { QStringLiteral("rules"), QJsonArray::fromVariantList(rulesToVariant(rules)) } };
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

std::optional<QVector<Rule>> rulesFromJson(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = tr("not a rules file: %1 at byte %2").arg(parseError.errorString()).arg(parseError.offset);
        return std::nullopt;
    }
    const QJsonObject top = document.object();
    if (!document.isObject() || top.value(QStringLiteral("format")).toString() != Format) {
        *error = tr("not a rules file: \"format\" is not \"%1\"").arg(Format);
        return std::nullopt;
    }
    const QJsonValue version = top.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() != std::floor(version.toDouble()) || version.toDouble() < 1) {
        *error = tr("the rules file has no version number");
        return std::nullopt;
    }
    if (version.toDouble() > Version) {
        *error = tr("the rules file is of version %1, made by a later Tillmark; this one reads version %2")
                     .arg(version.toDouble())
                     .arg(Version);
        return std::nullopt;
    }
    for (auto it = top.constBegin(); it != top.constEnd(); ++it) {
        if (it.key() != QLatin1String("format") && it.key() != QLatin1String("version")
            && it.key() != QLatin1String("rules")) {
            *error = tr("the rules file has an unknown key \"%1\"").arg(it.key());
            return std::nullopt;
        }
    }
    if (!top.value(QStringLiteral("rules")).isArray()) {
        *error = tr("the rules file has no list of \"rules\"");
        return std::nullopt;
    }
    // Each rule as the settings form has it; objects stay maps, numbers doubles and booleans booleans.
    return RuleReader(true).read(top.value(QStringLiteral("rules")).toArray().toVariantList(), error);
}

void saveRules(QSettings &settings, const QVector<Rule> &rules)
{
    settings.beginGroup(SettingsGroup);
    settings.remove(QString());
    settings.setValue(QStringLiteral("version"), Version);
    const QVariantList list = rulesToVariant(rules);
    settings.beginWriteArray(QStringLiteral("rules"), list.size());
    for (int i = 0; i < list.size(); ++i) {
        settings.setArrayIndex(i);
        const QVariantMap map = list.at(i).toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (it.value().type() != QVariant::Map) {
                settings.setValue(it.key(), it.value());
                continue;
            }
            const QVariantMap inner = it.value().toMap();
            for (auto at = inner.cbegin(); at != inner.cend(); ++at)
                settings.setValue(it.key() + QLatin1Char('/') + at.key(), at.value());
        }
    }
    settings.endArray();
    settings.endGroup();
}

QVector<Rule> loadRules(QSettings &settings, QString *error)
{
    settings.beginGroup(SettingsGroup);
    if (!settings.contains(QStringLiteral("version"))) {
        settings.endGroup();
        return defaultRules();
    }
    QString fault;
    if (settings.value(QStringLiteral("version")).toInt() != Version)
        fault = tr("the saved rules are of another version");
    QVariantList list;
    const int count = settings.beginReadArray(QStringLiteral("rules"));
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        QVariantMap map;
        for (const QString &key : settings.childKeys())
            map.insert(key, settings.value(key));
        for (const QString &group : settings.childGroups()) {
            QVariantMap inner;
            settings.beginGroup(group);
            for (const QString &key : settings.childKeys())
                inner.insert(key, settings.value(key));
            settings.endGroup();
            map.insert(group, inner);
        }
        list.append(map);
    }
    settings.endArray();
    settings.endGroup();
    std::optional<QVector<Rule>> rules;
    if (fault.isEmpty())
        rules = rulesFromVariant(list, &fault);
    if (!rules) {
        if (error)
            *error = tr("the saved rules cannot be read (%1); the default rules are used").arg(fault);
        return defaultRules();
    }
    return *rules;
}
