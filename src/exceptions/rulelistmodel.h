#pragma once
#include "core/rowlistmodel.h"
#include "exceptions/rules.h"

#include <QVector>

/// The exception rules as a list for an editor dialog: a row a rule, a role a field, and why a rule
/// cannot work. An edit that would make the set unreadable (a name another rule has, an amount of three
/// decimals) is refused as an import would refuse it, so that what the editor holds can always be saved
/// and handed on.
class RuleListModel : public RowListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    enum Role {
        NameRole = Qt::UserRole + 1,
        MatchRole, ///< "words" or "regex"
        PatternRole,
        EnabledRole,
        PaymentRole,
        HasAmountRole,
        AmountLabelRole,
        AmountCompareRole, ///< ">=" or "<="
        AmountValueRole, ///< a number, such as 50 or -12.5
        AmountAbsoluteRole,
        AmountPreferTotalRole,
        ProblemRole, ///< empty when the rule can work
    };

    explicit RuleListModel(QObject *parent = nullptr);

    const QVector<Rule> &rules() const { return m_rules; }
    void setRules(QVector<Rule> rules);
    int count() const { return m_rules.size(); }

    /// Sets one field of the rule at row, named as its role ("pattern", "amountValue"...). False, with
    /// the reason in lastError, when the rule would not be one a rules file can hold; nothing changes then.
    Q_INVOKABLE bool setField(int row, const QString &field, const QVariant &value);
    /// Appends a rule of words, with a name no other rule has; its row.
    Q_INVOKABLE int addRule();
    Q_INVOKABLE void removeRule(int row);
    Q_INVOKABLE void restoreDefaults();
    /// Replaces the rules with those of a rules file's text; false, with the reason in lastError, when it
    /// cannot be read (then nothing changes).
    Q_INVOKABLE bool importJson(const QString &json);
    Q_INVOKABLE QString exportJson() const;
    Q_INVOKABLE QString lastError() const { return m_lastError; }

signals:
    void countChanged();
    /// Any change of the rules, for whoever keeps them (the settings).
    void rulesChanged();

protected:
    int size() const override { return m_rules.size(); }
    QVariant value(int row, int role) const override;

private:
    QVector<Rule> m_rules;
    QString m_lastError;
};
