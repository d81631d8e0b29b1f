#include "exceptions/rulelistmodel.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

const QHash<int, QByteArray> Roles {
    { RuleListModel::NameRole, "name" },
    { RuleListModel::MatchRole, "match" },
    { RuleListModel::PatternRole, "pattern" },
    { RuleListModel::EnabledRole, "enabled" },
    { RuleListModel::PaymentRole, "payment" },
    { RuleListModel::HasAmountRole, "hasAmount" },
    { RuleListModel::AmountLabelRole, "amountLabel" },
    { RuleListModel::AmountCompareRole, "amountCompare" },
    { RuleListModel::AmountValueRole, "amountValue" },
    { RuleListModel::AmountAbsoluteRole, "amountAbsolute" },
    { RuleListModel::AmountPreferTotalRole, "amountPreferTotal" },
    { RuleListModel::ProblemRole, "problem" },
};

/// The key of an amount's field in the settings form, for a role such as "amountLabel".
QString amountKey(const QString &field)
{
    QString key = field.mid(int(qstrlen("amount")));
    key[0] = key.at(0).toLower();
    return key;
}

} // namespace

RuleListModel::RuleListModel(QObject *parent)
    : RowListModel(Roles, parent)
{
}

void RuleListModel::setRules(QVector<Rule> rules)
{
    const int before = m_rules.size();
    replaceRows(m_rules, rules);
    if (m_rules.size() != before)
        emit countChanged();
    emit rulesChanged();
}

QVariant RuleListModel::value(int row, int role) const
{
    const Rule &rule = m_rules.at(row);
    const QVariantMap fields = rulesToVariant({ rule }).constFirst().toMap();
    const QVariantMap amount = fields.value(QStringLiteral("amount")).toMap();
    switch (role) {
    case HasAmountRole:
        return bool(rule.amount);
    case ProblemRole:
        return ruleProblem(rule);
    case PaymentRole:
        return rule.payment;
    case AmountLabelRole:
    case AmountCompareRole:
    case AmountValueRole:
    case AmountAbsoluteRole:
    case AmountPreferTotalRole:
        return amount.value(amountKey(QString::fromLatin1(Roles.value(role))));
    default:
        return fields.value(QString::fromLatin1(Roles.value(role)));
    }
}

bool RuleListModel::setField(int row, const QString &field, const QVariant &value)
{
    const int role = Roles.key(field.toLatin1(), -1);
    if (row < 0 || row >= m_rules.size() || role < 0 || role == ProblemRole) {
        m_lastError = QCoreApplication::translate("Rules", "no such rule or field");
        return false;
    }
    // The whole set as the settings form, with the one field changed, read back with the import's checks.
    QVariantList list = rulesToVariant(m_rules);
    QVariantMap fields = list.at(row).toMap();
    if (role == HasAmountRole) {
        if (!value.toBool())
            fields.remove(QStringLiteral("amount"));
        else if (!fields.contains(QStringLiteral("amount")))
            fields.insert(QStringLiteral("amount"),
                QVariantMap { { QStringLiteral("label"), QStringLiteral("TOTAL") },
                    { QStringLiteral("compare"), QStringLiteral(">=") }, { QStringLiteral("value"), 0 } });
    } else if (field.startsWith(QLatin1String("amount"))) {
        QVariantMap amount = fields.value(QStringLiteral("amount")).toMap();
        amount.insert(amountKey(field), value);
        fields.insert(QStringLiteral("amount"), amount);
    } else if (role == PaymentRole && value.toString().isEmpty()) {
        fields.remove(QStringLiteral("payment"));
    } else {
        fields.insert(field, value);
    }
    list[row] = fields;
    const std::optional<QVector<Rule>> rules = rulesFromVariant(list, &m_lastError);
    if (!rules)
        return false;
    m_lastError.clear();
    if (rules->at(row) == m_rules.at(row))
        return true;
    m_rules[row] = rules->at(row);
    emit dataChanged(index(row), index(row));
    emit rulesChanged();
    return true;
}

int RuleListModel::addRule()
{
    Rule rule;
    rule.name = QCoreApplication::translate("Rules", "New rule");
    for (int n = 2;
         std::any_of(m_rules.cbegin(), m_rules.cend(), [&rule](const Rule &r) { return r.name == rule.name; }); ++n)
        rule.name = QCoreApplication::translate("Rules", "New rule %1").arg(n);
    const int row = m_rules.size();
    beginInsertRows(QModelIndex(), row, row);
    m_rules.append(rule);
    endInsertRows();
    emit countChanged();
    emit rulesChanged();
    return row;
}

void RuleListModel::removeRule(int row)
{
    if (row < 0 || row >= m_rules.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_rules.removeAt(row);
    endRemoveRows();
    emit countChanged();
    emit rulesChanged();
}

void RuleListModel::restoreDefaults()
{
    setRules(defaultRules());
}

bool RuleListModel::importJson(const QString &json)
{
    const std::optional<QVector<Rule>> rules = rulesFromJson(json.toUtf8(), &m_lastError);
    if (!rules)
        return false;
    m_lastError.clear();
    setRules(*rules);
    return true;
}

QString RuleListModel::exportJson() const
{
    return QString::fromUtf8(rulesToJson(m_rules));
}
