#include "exceptions/ruleengine.h"

#include "exceptions/amounts.h"

#include <QMap>
#include <QVarLengthArray>

#include <algorithm>

namespace {

/// The line at index line of text, without a carriage return before its line feed.
QStringView lineOf(QStringView text, int line)
{
    int start = 0;
    for (int i = 0; i < line && start >= 0; ++i) {
        const int next = int(text.indexOf(QLatin1Char('\n'), start));
        start = next < 0 ? -1 : next + 1;
    }
    if (start < 0)
        return QStringView();
    int end = int(text.indexOf(QLatin1Char('\n'), start));
    if (end < 0)
        end = int(text.size());
    if (end > start && text.at(end - 1) == QLatin1Char('\r'))
        --end;
    return text.mid(start, end - start);
}

bool compares(const AmountCondition &condition, qint64 cents)
{
    const qint64 value = condition.absolute && cents < 0 ? -cents : cents;
    return condition.comparison == AmountCondition::Comparison::AtLeast ? value >= condition.cents
                                                                        : value <= condition.cents;
}

} // namespace

RuleEngine::RuleEngine(QVector<Rule> rules)
    : m_rules(std::move(rules))
{
    for (int r = 0; r < m_rules.size(); ++r) {
        const Rule &rule = m_rules.at(r);
        Compiled compiled;
        compiled.problem = ruleProblem(rule);
        compiled.runs = rule.enabled && compiled.problem.isEmpty();
        if (compiled.runs) {
            QString unused;
            if (rule.amount)
                compiled.label = words::parse(rule.amount->label, &unused);
            if (!rule.payment.isEmpty())
                compiled.payment = words::parse(rule.payment, &unused);
            if (rule.syntax == Rule::Syntax::RegularExpression) {
                compiled.expression = ruleExpression(rule.pattern);
                compiled.expression.optimize();
                m_expressionRules.append(r);
            } else {
                ++m_wordsRules;
                for (const words::Phrase &phrase : words::parse(rule.pattern, &unused)) {
                    const char16_t first = phrase.constFirst().folded.at(0).unicode();
                    QVector<Candidate> *bucket = nullptr;
                    if (first < 128) {
                        bucket = &m_asciiCandidates[first];
                    } else {
                        auto other = std::find_if(m_otherCandidates.begin(), m_otherCandidates.end(),
                            [first](const QPair<char16_t, QVector<Candidate>> &entry) { return entry.first == first; });
                        if (other == m_otherCandidates.end())
                            other = m_otherCandidates.insert(m_otherCandidates.end(), { first, {} });
                        bucket = &other->second;
                    }
                    bucket->append({ r, phrase });
                }
            }
        }
        m_compiled.append(compiled);
    }
}

const QVector<RuleEngine::Candidate> *RuleEngine::candidates(char16_t folded) const
{
    if (folded < 128)
        return m_asciiCandidates[folded].isEmpty() ? nullptr : &m_asciiCandidates[folded];
    for (const auto &entry : m_otherCandidates) {
        if (entry.first == folded)
            return &entry.second;
    }
    return nullptr;
}

QVector<RuleHit> RuleEngine::evaluate(const PosData &receipt) const
{
    std::vector<words::Token> tokens;
    return evaluate(receipt, tokens);
}

QVector<FlaggedReceipt> RuleEngine::evaluate(const QList<PosData> &receipts) const
{
    QVector<FlaggedReceipt> flagged;
    std::vector<words::Token> tokens;
    for (int i = 0; i < receipts.size(); ++i) {
        QVector<RuleHit> hits = evaluate(receipts.at(i), tokens);
        if (!hits.isEmpty())
            flagged.append({ i, std::move(hits) });
    }
    return flagged;
}

QVector<RuleHit> RuleEngine::evaluate(const PosData &receipt, std::vector<words::Token> &tokens) const
{
    const QStringView text(receipt.content);
    words::tokenize(text, tokens);

    // The line each rule's pattern first matches; -1 while it has not.
    QVarLengthArray<int, 16> lines(m_rules.size());
    std::fill(lines.begin(), lines.end(), -1);
    int waiting = m_wordsRules;
    for (size_t t = 0; t < tokens.size() && waiting > 0; ++t) {
        const QVector<Candidate> *bucket = candidates(words::fold(text.at(tokens[t].start).unicode()));
        if (!bucket)
            continue;
        for (const Candidate &candidate : *bucket) {
            if (lines[candidate.rule] < 0 && words::matchesAt(text, tokens, t, candidate.phrase)) {
                lines[candidate.rule] = tokens[t].line;
                --waiting;
            }
        }
    }
    for (int r : m_expressionRules) {
        const QRegularExpressionMatch match = m_compiled.at(r).expression.match(receipt.content);
        if (match.hasMatch())
            lines[r] = int(text.left(match.capturedStart()).count(QLatin1Char('\n')));
    }

    QVector<RuleHit> hits;
    for (int r = 0; r < m_rules.size(); ++r) {
        if (lines[r] >= 0 && conditionsHold(m_rules.at(r), m_compiled.at(r), receipt, tokens))
            hits.append({ r, lines[r], lineOf(text, lines[r]).toString() });
    }
    return hits;
}

bool RuleEngine::conditionsHold(
    const Rule &rule, const Compiled &compiled, const PosData &receipt, const std::vector<words::Token> &tokens) const
{
    const QStringView text(receipt.content);
    if (!rule.payment.isEmpty()) {
        const bool paid = receipt.payment.isEmpty()
            ? words::firstLine(text, tokens, compiled.payment) >= 0
            : receipt.payment.trimmed().compare(rule.payment.trimmed(), Qt::CaseInsensitive) == 0;
        if (!paid)
            return false;
    }
    if (!rule.amount)
        return true;
    const AmountCondition &amount = *rule.amount;
    if (amount.preferTotal) {
        if (const std::optional<qint64> total = amounts::parseAmount(receipt.total))
            return compares(amount, *total);
    }
    // Any labelled line with an amount that compares right.
    int checkedLine = -1;
    for (size_t t = 0; t < tokens.size(); ++t) {
        if (tokens[t].line == checkedLine)
            continue;
        for (const words::Phrase &phrase : compiled.label) {
            if (!words::matchesAt(text, tokens, t, phrase))
                continue;
            checkedLine = tokens[t].line;
            const std::optional<qint64> cents = amounts::lineAmount(lineOf(text, checkedLine));
            if (cents && compares(amount, *cents))
                return true;
            break;
        }
    }
    return false;
}

FlagCounts countFlags(
    const QList<PosData> &receipts, const QVector<FlaggedReceipt> &flagged, int ruleCount, const ReceiptClock &clock)
{
    FlagCounts counts;
    counts.byRule.fill(0, ruleCount);
    QMap<QPair<QString, QString>, int> byTill; // (name, id): sorted as shown
    for (const FlaggedReceipt &flag : flagged) {
        const PosData &receipt = receipts.at(flag.receipt);
        const int flags = flag.hits.size();
        ++counts.receipts;
        for (const RuleHit &hit : flag.hits)
            ++counts.byRule[hit.rule];
        byTill[{ receipt.tillName, receipt.tillId }] += flags;
        const QDateTime at = clock ? clock(receipt) : receipt.createdAt;
        if (at.isValid())
            counts.byHour[size_t(at.toLocalTime().time().hour())] += flags;
        else
            counts.withoutTime += flags;
    }
    for (auto it = byTill.cbegin(); it != byTill.cend(); ++it)
        counts.byTill.append({ it.key().second, it.key().first, it.value() });
    return counts;
}
