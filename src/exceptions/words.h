#pragma once
#include <QChar>
#include <QString>
#include <QStringView>
#include <QVector>

#include <vector>

/// The "words" patterns of the rules (see Rule): parsing them, and finding their phrases in a receipt.
/// Case is folded one UTF-16 unit at a time (QChar::toCaseFolded), the same way for the pattern and the text.
namespace words {

struct Word {
    QString folded;
    bool prefix = false; ///< written with a trailing "*": matches any word it begins
};
using Phrase = QVector<Word>;

/// The phrases of a pattern (split at commas); with the reason in *problem when it has no word at all or
/// puts a "*" anywhere but at the end of a word.
QVector<Phrase> parse(const QString &pattern, QString *problem);

/// One word of a text: where it starts, its length, and its line (counted from 0).
struct Token {
    int start;
    int length;
    int line;
};

/// The words of text, in order, into tokens (which is cleared first; kept by the caller so that its
/// memory serves receipt after receipt).
void tokenize(QStringView text, std::vector<Token> &tokens);

inline char16_t fold(char16_t unit)
{
    if (unit < 0x80)
        return unit >= 'A' && unit <= 'Z' ? char16_t(unit + 32) : unit;
    return char16_t(QChar::toCaseFolded(uint(unit)));
}

/// Whether the phrase matches at the token at index first of tokens (of text).
bool matchesAt(QStringView text, const std::vector<Token> &tokens, size_t first, const Phrase &phrase);

/// The first line on which one of the phrases matches; -1 when none does.
int firstLine(QStringView text, const std::vector<Token> &tokens, const QVector<Phrase> &phrases);

} // namespace words
