#pragma once
#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QVariantList>
#include <QVector>

#include <optional>

class QSettings;

/// An amount a receipt must state for a rule to fire.
struct AmountCondition {
    enum class Comparison { AtLeast, AtMost };

    /// Words (as a rule's pattern) that pick the line whose amount counts, e.g. "TOTAL": any such line
    /// with an amount that compares right will do.
    QString label;
    Comparison comparison = Comparison::AtLeast;
    qint64 cents = 0;
    /// Compare the amount's size whatever its sign: tills print refunds as -12.50, 12.50- or 12.50.
    bool absolute = false;
    /// Where the reply carries a "total" that reads as an amount, compare that instead of the labelled
    /// line; servers promise only the text, so the line stays the fallback.
    bool preferTotal = false;

    bool operator==(const AmountCondition &other) const
    {
        return label == other.label && comparison == other.comparison && cents == other.cents
            && absolute == other.absolute && preferTotal == other.preferTotal;
    }
};

/// A named rule that flags a receipt.
///
/// Its pattern is always matched without regard to case. A "words" pattern lists phrases split by commas
/// ("REFUND*, RETURN, NO SALE"); a phrase is one or more words, a word a run of letters and digits, and
/// every other character separates words. A phrase matches where its words stand as whole words, in that
/// order, on one line, with nothing but separators between them: "REFUND" matches "*** REFUND ***" and
/// "Refund:" but not "REFUNDED" or "NONREFUND"; a word ending in "*" matches any word it begins, so
/// "REFUND*" matches "REFUNDED" too; "NO SALE" matches "NO-SALE" but not "NO\nSALE". A regular
/// expression is searched in the whole text, with ^ and $ at each line's start and end and \w, \b
/// knowing every script. Either way the receipt line reported is the first one the pattern matches.
///
/// Conditions, all of which must hold as well: an amount (see AmountCondition) and a way of payment
/// ("cash"): the reply's "payment" where it has one (compared without regard to case), else the words of
/// the payment on a line of the text ("CASH REFUND").
struct Rule {
    enum class Syntax { Words, RegularExpression };

    QString name;
    Syntax syntax = Syntax::Words;
    QString pattern;
    bool enabled = true;
    std::optional<AmountCondition> amount;
    QString payment; ///< empty: any way of payment, or none

    bool operator==(const Rule &other) const
    {
        return name == other.name && syntax == other.syntax && pattern == other.pattern && enabled == other.enabled
            && amount == other.amount && payment == other.payment;
    }
    bool operator!=(const Rule &other) const { return !(*this == other); }
};

/// Refund, Void/cancel, No sale, Discount/override and Cash refund over 50, worded as tills print them.
QVector<Rule> defaultRules();

/// Why the rule cannot work (an empty pattern, a regular expression that does not compile, an amount
/// with no label); empty when it can. A rule that cannot work is skipped and the others run.
QString ruleProblem(const Rule &rule);

/// A rule's regular expression as it is matched: without regard to case, ^ and $ at lines, Unicode \w.
QRegularExpression ruleExpression(const QString &pattern);

/// A rule set as a JSON document a chain can hand to every store:
/// {"format": "tillmark-rules", "version": 1, "rules": [{"name": ..., "match": "words" | "regex",
/// "pattern": ..., "enabled": true, "payment": "cash", "amount": {"label": "TOTAL", "compare": ">=",
/// "value": 50, "absolute": true, "preferTotal": true}}]} ("payment" and "amount" only where set).
QByteArray rulesToJson(const QVector<Rule> &rules);
/// Reads what rulesToJson writes, strictly: nothing is read from a document with a fault, and *error
/// says which rule and what is wrong with it. Rules that cannot work are read (ruleProblem tells).
std::optional<QVector<Rule>> rulesFromJson(const QByteArray &json, QString *error);

/// The rules as a list of maps holding strings, numbers and booleans only, the form settings keep.
QVariantList rulesToVariant(const QVector<Rule> &rules);
/// Reads that form, with the checks of rulesFromJson; numbers and booleans may come back as text, as
/// an INI file gives them.
std::optional<QVector<Rule>> rulesFromVariant(const QVariantList &list, QString *error);

/// Writes the rules into the group "exceptionRules" of the settings, replacing what was there.
void saveRules(QSettings &settings, const QVector<Rule> &rules);
/// The rules saved in the settings; the default rules when none were saved, and when what was saved
/// cannot be read (then with the reason in *error).
QVector<Rule> loadRules(QSettings &settings, QString *error = nullptr);
