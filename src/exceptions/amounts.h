#pragma once
#include <QStringView>

#include <optional>

/// Money amounts as receipts print them, in cents.
///
/// A money-shaped number has exactly two decimals after a point or a comma ("12.50", "12,50"), may group
/// its thousands with the other mark ("1.234,50", "1,234.50") and may carry a minus sign right before it
/// ("-3.00") or right after it ("3.00-", as some tills print refunds). It must stand on its own: a number
/// glued to a letter ("0.75l", "6x1.99"), followed by "%" ("19.00%"), or next to ":" or "/" (times, dates)
/// is no amount, and a run of digits and marks that is not wholly money-shaped ("12.05.2026", "1.234",
/// "12.05." as a short date, "#0042", "No. 12345") holds none. Thousands grouped by blanks are not read.
namespace amounts {

/// The amount a receipt line states: the last money-shaped number on it ("2 x 1.99    3.98" states
/// 3.98); nothing when it has none.
std::optional<qint64> lineAmount(QStringView line);

/// An amount written on its own, as a server's "total": a money-shaped number or a plain one with up to
/// two decimals ("23", "23.5", "-7.25"), with blanks around it; nothing for anything else.
std::optional<qint64> parseAmount(QStringView text);

} // namespace amounts
