#include "exceptions/amounts.h"

namespace amounts {
namespace {

// Beyond this many digits a number is no amount a till prints (and would not fit in cents).
constexpr int MaxDigits = 15;

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isMark(QChar c)
{
    return c == QLatin1Char('.') || c == QLatin1Char(',');
}

bool isMinus(QChar c)
{
    return c == QLatin1Char('-') || c == QChar(0x2212);
}

/// The cents of a run of digits and marks when the whole run is money-shaped.
std::optional<qint64> moneyShaped(QStringView run)
{
    const int size = int(run.size());
    if (size < 4 || !isDigit(run.front()) || !isDigit(run.back()))
        return std::nullopt;
    const QChar decimal = run.at(size - 3);
    if (!isMark(decimal) || !isDigit(run.at(size - 2)))
        return std::nullopt;
    const QStringView whole = run.left(size - 3);
    // The whole part: digits alone, or groups of three after the first one to three, split by the other mark.
    qint64 value = 0;
    int digits = 0;
    int groupLength = 0;
    bool grouped = false;
    for (int i = 0; i < whole.size(); ++i) {
        const QChar c = whole.at(i);
        if (isDigit(c)) {
            value = value * 10 + (c.unicode() - '0');
            ++groupLength;
            if (++digits > MaxDigits)
                return std::nullopt;
            continue;
        }
        if (c == decimal || (grouped ? groupLength != 3 : groupLength > 3))
            return std::nullopt;
        if (grouped && c != whole.at(i - 4))
            return std::nullopt; // one grouping mark throughout
        grouped = true;
        groupLength = 0;
    }
    if (grouped && groupLength != 3)
        return std::nullopt;
    return value * 100 + (run.at(size - 2).unicode() - '0') * 10 + (run.at(size - 1).unicode() - '0');
}

/// What may not touch an amount: a letter (units, codes glued on), and the marks of times, dates and
/// percentages.
bool keepsAway(QChar c, bool after)
{
    return c.isLetter() || c == QLatin1Char(':') || c == QLatin1Char('/') || (after && c == QLatin1Char('%'))
        || (!after && c == QLatin1Char('#'));
}

} // namespace

std::optional<qint64> lineAmount(QStringView line)
{
    std::optional<qint64> last;
    const int size = int(line.size());
    int i = 0;
    while (i < size) {
        if (!isDigit(line.at(i)) && !isMark(line.at(i))) {
            ++i;
            continue;
        }
        const int start = i;
        while (i < size && (isDigit(line.at(i)) || isMark(line.at(i))))
            ++i;
        const std::optional<qint64> cents = moneyShaped(line.mid(start, i - start));
        if (!cents)
            continue;
        const bool minusBefore = start > 0 && isMinus(line.at(start - 1));
        const bool minusAfter = i < size && isMinus(line.at(i));
        const int before = start - (minusBefore ? 2 : 1);
        const int after = i + (minusAfter ? 1 : 0);
        if ((before >= 0 && keepsAway(line.at(before), false)) || (after < size && keepsAway(line.at(after), true)))
            continue;
        last = minusBefore || minusAfter ? -*cents : *cents;
    }
    return last;
}

std::optional<qint64> parseAmount(QStringView text)
{
    QStringView rest = text.trimmed();
    bool negative = false;
    if (!rest.isEmpty() && (isMinus(rest.front()) || rest.front() == QLatin1Char('+'))) {
        negative = isMinus(rest.front());
        rest = rest.mid(1);
    } else if (!rest.isEmpty() && isMinus(rest.back())) {
        negative = true;
        rest.chop(1);
    }
    std::optional<qint64> cents = moneyShaped(rest);
    if (!cents) {
        // A plain number: digits, then at most two decimals.
        int mark = int(rest.indexOf(QLatin1Char('.')));
        if (mark < 0)
            mark = int(rest.indexOf(QLatin1Char(',')));
        const QStringView whole = mark >= 0 ? rest.left(mark) : rest;
        const QStringView fraction = mark >= 0 ? rest.mid(mark + 1) : QStringView();
        if (whole.isEmpty() || whole.size() > MaxDigits || fraction.size() > 2 || (mark >= 0 && fraction.isEmpty()))
            return std::nullopt;
        qint64 value = 0;
        for (const QChar c : whole) {
            if (!isDigit(c))
                return std::nullopt;
            value = value * 10 + (c.unicode() - '0');
        }
        int hundredths = 0;
        for (int i = 0; i < 2; ++i) {
            const QChar c = i < fraction.size() ? fraction.at(i) : QLatin1Char('0');
            if (!isDigit(c))
                return std::nullopt;
            hundredths = hundredths * 10 + (c.unicode() - '0');
        }
        cents = value * 100 + hundredths;
    }
    return negative ? -*cents : *cents;
}

} // namespace amounts
