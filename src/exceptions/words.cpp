#include "exceptions/words.h"

#include <QCoreApplication>

namespace words {
namespace {

/// Letters, digits and the marks that accents are made of when written apart ("e" and U+0300).
bool isWordCharacter(uint code)
{
    if (code < 0x80)
        return (code >= '0' && code <= '9') || (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z');
    return QChar::isLetterOrNumber(code) || QChar::isMark(code);
}

/// The code point at i of text and how many units it takes.
uint codeAt(QStringView text, int i, int *units)
{
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
        *units = 2;
        return QChar::surrogateToUcs4(c, text.at(i + 1));
    }
    *units = 1;
    return c.unicode();
}

} // namespace

QVector<Phrase> parse(const QString &pattern, QString *problem)
{
    QVector<Phrase> phrases;
    for (const QStringRef &written : pattern.splitRef(QLatin1Char(','))) {
        const QStringView text(written);
        Phrase phrase;
        Word word;
        for (int i = 0; i < text.size();) {
            int units = 1;
            const uint code = codeAt(text, i, &units);
            if (isWordCharacter(code)) {
                for (int u = 0; u < units; ++u)
                    word.folded += QChar(fold(text.at(i + u).unicode()));
            } else if (code == '*') {
                const bool endsWord = i + 1 >= text.size() || !isWordCharacter(codeAt(text, i + 1, &units));
                if (word.folded.isEmpty() || !endsWord) {
                    *problem = QCoreApplication::translate("Rules", "\"*\" may only end a word");
                    return {};
                }
                word.prefix = true;
            } else if (!word.folded.isEmpty()) {
                phrase.append(word);
                word = Word();
            }
            i += code == '*' ? 1 : units;
        }
        if (!word.folded.isEmpty())
            phrase.append(word);
        if (!phrase.isEmpty())
            phrases.append(phrase);
    }
    if (phrases.isEmpty())
        *problem = QCoreApplication::translate("Rules", "the pattern has no words");
    return phrases;
}

void tokenize(QStringView text, std::vector<Token> &tokens)
{
    tokens.clear();
    const QChar *units = text.data();
    const int size = int(text.size());
    int line = 0;
    int i = 0;
    while (i < size) {
        const char16_t unit = units[i].unicode();
        if (unit < 0x80) {
            const bool word = (unit >= '0' && unit <= '9') || ((unit | 0x20) >= 'a' && (unit | 0x20) <= 'z');
            if (!word) {
                line += unit == '\n';
                ++i;
                continue;
            }
        } else {
            int length = 1;
            if (!isWordCharacter(codeAt(text, i, &length))) {
                i += length;
                continue;
            }
        }
        const int start = i;
        while (i < size) {
            const char16_t next = units[i].unicode();
            if (next < 0x80) {
                if ((next >= '0' && next <= '9') || ((next | 0x20) >= 'a' && (next | 0x20) <= 'z')) {
                    ++i;
                    continue;
                }
                break;
            }
            int length = 1;
            if (!isWordCharacter(codeAt(text, i, &length)))
                break;
            i += length;
        }
        tokens.push_back({ start, i - start, line });
    }
}

bool matchesAt(QStringView text, const std::vector<Token> &tokens, size_t first, const Phrase &phrase)
{
    if (first + size_t(phrase.size()) > tokens.size())
        return false;
    const QChar *units = text.data();
    const int line = tokens[first].line;
    for (int w = 0; w < phrase.size(); ++w) {
        const Token &token = tokens[first + size_t(w)];
        const Word &word = phrase.at(w);
        const int length = int(word.folded.size());
        if (token.line != line || token.length < length || (!word.prefix && token.length != length))
            return false;
        const QChar *wanted = word.folded.constData();
        for (int i = 0; i < length; ++i) {
            if (fold(units[token.start + i].unicode()) != wanted[i].unicode())
                return false;
        }
    }
    return true;
}

int firstLine(QStringView text, const std::vector<Token> &tokens, const QVector<Phrase> &phrases)
{
    for (size_t t = 0; t < tokens.size(); ++t) {
        for (const Phrase &phrase : phrases) {
            if (matchesAt(text, tokens, t, phrase))
                return tokens[t].line;
        }
    }
    return -1;
}

} // namespace words
