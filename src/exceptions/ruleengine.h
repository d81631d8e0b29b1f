#pragma once
#include "core/common.h"
#include "exceptions/rules.h"
#include "exceptions/words.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QString>
#include <QVector>

#include <array>
#include <functional>
#include <vector>

/// A rule that fired on a receipt, and the receipt line its pattern matched (for the view to highlight).
struct RuleHit {
    int rule = -1; ///< index into the engine's rules
    int line = -1; ///< counted from 0
    QString lineText;
};

/// A receipt that at least one rule flagged, with the rules that fired in the order of the rules.
struct FlaggedReceipt {
    int receipt = -1; ///< index into the receipts evaluated
    QVector<RuleHit> hits;
};

/// The rules made ready to run over many receipts: every "words" rule is found in one pass over a
/// receipt's words, so that a week of a busy store (some 100,000 receipts) takes well under a second.
class RuleEngine
{
public:
    explicit RuleEngine(QVector<Rule> rules);

    const QVector<Rule> &rules() const { return m_rules; }
    /// Why the rule at that index cannot work (see ruleProblem); it is skipped and the others run.
    QString problem(int rule) const { return m_compiled.at(rule).problem; }

    /// The rules that fire on one receipt; none, most of the time.
    QVector<RuleHit> evaluate(const PosData &receipt) const;
    /// The receipts that any rule flags, in the order of the list.
    QVector<FlaggedReceipt> evaluate(const QList<PosData> &receipts) const;

private:
    struct Compiled {
        QString problem;
        bool runs = false; ///< enabled and able to work
        QRegularExpression expression; ///< for a regular expression rule
        QVector<words::Phrase> label; ///< of the amount condition
        QVector<words::Phrase> payment;
    };
    /// A phrase of a "words" rule, filed under the first unit of its first word.
    struct Candidate {
        int rule;
        words::Phrase phrase;
    };

    QVector<RuleHit> evaluate(const PosData &receipt, std::vector<words::Token> &tokens) const;
    bool conditionsHold(const Rule &rule, const Compiled &compiled, const PosData &receipt,
        const std::vector<words::Token> &tokens) const;
    const QVector<Candidate> *candidates(char16_t folded) const;

    QVector<Rule> m_rules;
    QVector<Compiled> m_compiled;
    std::array<QVector<Candidate>, 128> m_asciiCandidates;
    QVector<QPair<char16_t, QVector<Candidate>>> m_otherCandidates;
    int m_wordsRules = 0;
    QVector<int> m_expressionRules;
};

/// The time to count a receipt's flag at; its reception time, until the till clocks' offsets are known.
using ReceiptClock = std::function<QDateTime(const PosData &)>;

/// Flags (a rule firing on a receipt counts one) by rule, by till and by hour of day.
struct FlagCounts {
    struct Till {
        QString id;
        QString name;
        int flags = 0;
    };
    QVector<int> byRule; ///< by rule index
    QVector<Till> byTill; ///< by till name, then id
    std::array<int, 24> byHour {}; ///< hour of the machine's local time of the receipt's clock time
    int withoutTime = 0; ///< flags of receipts whose time cannot be read
    int receipts = 0; ///< receipts flagged at all
};

/// Counts the flags of evaluate(receipts). clock gives the time to count a receipt at; empty, its createdAt.
FlagCounts countFlags(const QList<PosData> &receipts, const QVector<FlaggedReceipt> &flagged, int ruleCount,
    const ReceiptClock &clock = ReceiptClock());
