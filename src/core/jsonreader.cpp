#include "core/jsonreader.h"

#include <QByteArray>
#include <QtAlgorithms>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define TILLMARK_JSON_SSE2
#endif

namespace {

// QJsonDocument's own limit: 1024 nested arrays and objects are read, one more is refused.
constexpr int MaxDepth = 1024;

constexpr std::uint64_t Ones = 0x0101010101010101ULL;
constexpr std::uint64_t HighBits = 0x8080808080808080ULL;

/// Whether any of the eight bytes of word equals byte (exact, whatever the byte order).
inline std::uint64_t hasByte(std::uint64_t word, unsigned char byte)
{
    const std::uint64_t x = word ^ (Ones * byte);
    return (x - Ones) & ~x & HighBits;
}

inline std::uint64_t load8(const char *p)
{
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/// Where the string that starts at p (after its opening quote) ends: its closing quote; null when it
/// does not end. Only escapes are looked at; the bytes are checked while they are decoded.
const char *findClosingQuote(const char *p, const char *end)
{
    for (;;) {
#ifdef TILLMARK_JSON_SSE2
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        while (end - p >= 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            const int special
                = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
            if (special) {
                p += qCountTrailingZeroBits(quint32(special));
                break;
            }
            p += 16;
        }
#endif
        while (end - p >= 8) {
            const std::uint64_t word = load8(p);
            if (hasByte(word, '"') | hasByte(word, '\\'))
                break;
            p += 8;
        }
        while (p < end && *p != '"' && *p != '\\')
            ++p;
        if (p >= end)
            return nullptr;
        if (*p == '"')
            return p;
        p += 2; // a backslash and the byte it escapes
        if (p > end)
            return nullptr;
    }
}

/// Checks the string that starts at p (after its opening quote) and, when Write, decodes it into dst
/// (room for one unit per byte suffices: no form is shorter in bytes than in UTF-16 units). Returns the
/// position after the closing quote, or null when the string is wrong; *written gets the units written.
template <bool Write> const char *decodeString(const char *p, const char *end, char16_t *dst, int *written)
{
    char16_t *const first = dst;
    for (;;) {
        // The bulk of a receipt is plain ASCII: sixteen or eight bytes at a time up to the next quote,
        // backslash or byte of a multi-byte character.
#ifdef TILLMARK_JSON_SSE2
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        const __m128i zero = _mm_setzero_si128();
        while (end - p >= 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            // The sign bit marks a byte of a multi-byte character.
            const int special = _mm_movemask_epi8(
                _mm_or_si128(bytes, _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash))));
            if (Write) {
                // All sixteen are widened even when fewer are kept: dst has a unit for every byte up to
                // the closing quote, and one more (the string's terminating null) for the quote itself.
                _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm_unpacklo_epi8(bytes, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 8), _mm_unpackhi_epi8(bytes, zero));
            }
            if (special) {
                const int plain = int(qCountTrailingZeroBits(quint32(special)));
                p += plain;
                dst += Write ? plain : 0;
                break;
            }
            p += 16;
            dst += Write ? 16 : 0;
        }
#endif
        while (end - p >= 8) {
            const std::uint64_t word = load8(p);
            if ((word & HighBits) | hasByte(word, '"') | hasByte(word, '\\'))
                break;
            if (Write) {
                for (int i = 0; i < 8; ++i)
                    dst[i] = static_cast<unsigned char>(p[i]);
                dst += 8;
            }
            p += 8;
        }
        while (p < end) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if (c >= 0x80 || c == '"' || c == '\\')
                break;
            if (Write)
                *dst++ = c;
            ++p;
        }
        if (p >= end)
            return nullptr;
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"') {
            if (Write)
                *written = int(dst - first);
            return p + 1;
        }
        if (c == '\\') {
            if (end - p < 2)
                return nullptr;
            char16_t unit;
            const unsigned char escaped = static_cast<unsigned char>(p[1]);
            switch (escaped) {
            case 'b':
                unit = 0x08;
                break;
            case 'f':
                unit = 0x0c;
                break;
            case 'n':
                unit = 0x0a;
                break;
            case 'r':
                unit = 0x0d;
                break;
            case 't':
                unit = 0x09;
                break;
            case 'u': {
                if (end - p < 6)
                    return nullptr;
                int value = 0;
                for (int i = 2; i < 6; ++i) {
                    const int digit = hexValue(p[i]);
                    if (digit < 0)
                        return nullptr;
                    value = value * 16 + digit;
                }
                // Kept as the unit it names, even half a surrogate pair: QJsonDocument does the same.
                if (Write)
                    *dst++ = char16_t(value);
                p += 6;
                continue;
            }
            default:
                // Any other character stands for itself ("\"", "\\", "\/", and "\x" for x). A byte above
                // 0x7f is taken as QJsonDocument takes it: sign-extended to a code point beyond U+FFFF,
                // written as the two units D7BF and DF00 + byte (a multi-byte character after a backslash
                // then leaves stray continuation bytes, which are refused).
                if (escaped >= 0x80) {
                    if (Write) {
                        *dst++ = 0xd7bf;
                        *dst++ = char16_t(0xdf00 + escaped);
                    }
                    p += 2;
                    continue;
                }
                unit = escaped;
            }
            if (Write)
                *dst++ = unit;
            p += 2;
            continue;
        }
        // Strict UTF-8: the second byte's range rules out overlong forms, surrogates and code points
        // above U+10FFFF.
        unsigned char low = 0x80;
        unsigned char high = 0xbf;
        int length;
        char32_t code;
        if (c >= 0xc2 && c <= 0xdf) {
            length = 2;
            code = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            length = 3;
            code = c & 0x0f;
            if (c == 0xe0)
                low = 0xa0;
            else if (c == 0xed)
                high = 0x9f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            length = 4;
            code = c & 0x07;
            if (c == 0xf0)
                low = 0x90;
            else if (c == 0xf4)
                high = 0x8f;
        } else {
            return nullptr;
        }
        if (end - p < length)
            return nullptr;
        for (int i = 1; i < length; ++i) {
            const unsigned char next = static_cast<unsigned char>(p[i]);
            if (next < low || next > high)
                return nullptr;
            low = 0x80;
            high = 0xbf;
            code = (code << 6) | (next & 0x3f);
        }
        if (Write) {
            if (code >= 0x10000) {
                *dst++ = char16_t(0xd800 + ((code - 0x10000) >> 10));
                *dst++ = char16_t(0xdc00 + ((code - 0x10000) & 0x3ff));
            } else {
                *dst++ = char16_t(code);
            }
        }
        p += length;
    }
}

} // namespace

JsonReader::JsonReader(const char *begin, const char *end)
    : m_pos(begin)
    , m_end(end)
{
    static const char nothing = 0;
    if (!begin)
        m_pos = m_end = &nothing;
    // Only at the very start, and only one.
    if (m_end - m_pos >= 3 && std::memcmp(m_pos, "\xef\xbb\xbf", 3) == 0)
        m_pos += 3;
}

void JsonReader::skipBlanks()
{
    if (!m_pos)
        return;
    while (m_pos < m_end && (*m_pos == ' ' || *m_pos == '\n' || *m_pos == '\r' || *m_pos == '\t'))
        ++m_pos;
}

JsonReader::Kind JsonReader::peek()
{
    skipBlanks();
    if (!m_pos || m_pos == m_end)
        return Kind::Other;
    switch (*m_pos) {
    case '[':
        return Kind::Array;
    case '{':
        return Kind::Object;
    case '"':
        return Kind::String;
    default:
        return Kind::Other;
    }
}

bool JsonReader::enterContainer()
{
    if (!m_pos)
        return false;
    if (++m_depth > MaxDepth) {
        fail();
        return false;
    }
    ++m_pos;
    m_first = true;
    return true;
}

void JsonReader::enterArray()
{
    if (peek() == Kind::Array)
        enterContainer();
    else
        fail();
}

void JsonReader::enterObject()
{
    if (peek() == Kind::Object)
        enterContainer();
    else
        fail();
}

bool JsonReader::advance(char close)
{
    skipBlanks();
    if (!m_pos || m_pos == m_end) {
        fail();
        return false;
    }
    if (*m_pos == close) {
        ++m_pos;
        --m_depth;
        m_first = false; // the container around has just had its element
        return false;
    }
    if (!m_first) {
        if (*m_pos != ',') {
            fail();
            return false;
        }
        ++m_pos;
        skipBlanks();
        if (m_pos == m_end || *m_pos == close) { // "[1,]"
            fail();
            return false;
        }
    }
    m_first = false;
    return true;
}

bool JsonReader::nextElement()
{
    return advance(']');
}

bool JsonReader::nextMember()
{
    if (!advance('}'))
        return false;
    if (*m_pos != '"') {
        fail();
        return false;
    }
    m_key = ++m_pos;
    scanString(nullptr);
    if (!m_pos)
        return false;
    m_keyLength = int(m_pos - 1 - m_key);
    m_keyEscaped = std::memchr(m_key, '\\', size_t(m_keyLength)) != nullptr;
    m_keyPlain = !m_keyEscaped;
    for (int i = 0; i < m_keyLength && m_keyPlain; ++i)
        m_keyPlain = static_cast<unsigned char>(m_key[i]) < 0x80;
    skipBlanks();
    if (m_pos == m_end || *m_pos != ':') {
        fail();
        return false;
    }
    ++m_pos;
    return true;
}

bool JsonReader::keyIs(QLatin1String name) const
{
    if (!m_keyEscaped)
        return m_keyLength == name.size() && std::memcmp(m_key, name.data(), size_t(m_keyLength)) == 0;
    return key() == name; // rare: "te\u0078t" is "text" too
}

QString JsonReader::key() const
{
    // The key was checked when it was read; read it again, with its quotes around it.
    JsonReader key(m_key - 1, m_key + m_keyLength + 1);
    key.m_keepByteOrderMark = true;
    return key.readString();
}

void JsonReader::scanString(QString *out)
{
    if (!out) {
        m_pos = decodeString<false>(m_pos, m_end, nullptr, nullptr);
        return;
    }
    const char *closing = findClosingQuote(m_pos, m_end);
    if (!closing) {
        fail();
        return;
    }
    const char *start = m_pos;
    QString text(int(closing - start), Qt::Uninitialized);
    int written = 0;
    m_pos = decodeString<true>(start, closing + 1, reinterpret_cast<char16_t *>(text.data()), &written);
    if (!m_pos)
        return;
    text.resize(written);
    // QJsonDocument keeps a string written without escapes as its UTF-8 and gives it back through
    // QString::fromUtf8, which drops a byte order mark at its start (a key keeps it for comparing).
    if (!m_keepByteOrderMark && !text.isEmpty() && text.at(0) == QChar(0xfeff)
        && !std::memchr(start, '\\', size_t(closing - start)))
        text.remove(0, 1);
    *out = std::move(text);
}

void JsonReader::scanNumber(const char **start, int *length)
{
    // The token as QJsonDocument delimits it: [-] (0 | digits) [. digits] [(e|E) [+|-] digits], each part
    // possibly empty; whether it is a number is then QByteArray::toDouble's to say.
    const char *p = m_pos;
    if (p < m_end && *p == '-')
        ++p;
    const char *digits = p;
    if (p < m_end && *p == '0') {
        ++p;
    } else {
        while (p < m_end && isDigit(*p))
            ++p;
    }
    const int integerDigits = int(p - digits);
    int fractionDigits = -1;
    if (p < m_end && *p == '.') {
        const char *fraction = ++p;
        while (p < m_end && isDigit(*p))
            ++p;
        fractionDigits = int(p - fraction);
    }
    bool exponent = false;
    if (p < m_end && (*p == 'e' || *p == 'E')) {
        exponent = true;
        ++p;
        if (p < m_end && (*p == '+' || *p == '-'))
            ++p;
        while (p < m_end && isDigit(*p))
            ++p;
    }
    if (p >= m_end) { // a document cannot end in a number
        fail();
        return;
    }
    // Without an exponent and with at most 300 digits a number can neither overflow nor underflow, so the
    // common ones need no conversion; the rest go to the function that decides for QJsonDocument.
    const bool plain = !exponent && integerDigits > 0 && fractionDigits != 0
        && integerDigits + (fractionDigits > 0 ? fractionDigits : 0) <= 300;
    if (!plain) {
        bool isNumber = false;
        QByteArray::fromRawData(m_pos, int(p - m_pos)).toDouble(&isNumber);
        if (!isNumber) {
            fail();
            return;
        }
    }
    *start = m_pos;
    *length = int(p - m_pos);
    m_pos = p;
}

void JsonReader::skipContainer()
{
    if (*m_pos == '[') {
        enterContainer();
        while (nextElement())
            skipValue();
    } else {
        enterContainer();
        while (nextMember())
            skipValue();
    }
}

void JsonReader::skipValue()
{
    skipBlanks();
    if (!m_pos || m_pos == m_end) {
        fail();
        return;
    }
    auto literal = [this](const char *word, int length) {
        if (m_end - m_pos >= length && std::memcmp(m_pos, word, size_t(length)) == 0)
            m_pos += length;
        else
            fail();
    };
    switch (*m_pos) {
    case '[':
    case '{':
        skipContainer();
        return;
    case '"':
        ++m_pos;
        scanString(nullptr);
        return;
    case 't':
        literal("true", 4);
        return;
    case 'f':
        literal("false", 5);
        return;
    case 'n':
        literal("null", 4);
        return;
    default: {
        const char *start;
        int length;
        scanNumber(&start, &length);
    }
    }
}

QString JsonReader::readString()
{
    QString text;
    if (peek() == Kind::String) {
        ++m_pos;
        scanString(&text);
    } else {
        skipValue();
    }
    return text;
}

QString JsonReader::readScalarText()
{
    skipBlanks();
    if (!m_pos || m_pos == m_end) {
        fail();
        return QString();
    }
    const char c = *m_pos;
    if (c == '"')
        return readString();
    if (c == '-' || c == '.' || isDigit(c)) {
        const char *start = nullptr;
        int length = 0;
        scanNumber(&start, &length);
        return m_pos ? QString::fromLatin1(start, length) : QString();
    }
    skipValue();
    return QString();
}

const char *JsonReader::valueStart()
{
    skipBlanks();
    return m_pos;
}

bool JsonReader::skipRepeat(const char *bytes, int length)
{
    skipBlanks();
    if (!m_pos || length <= 0 || m_end - m_pos < length || std::memcmp(m_pos, bytes, size_t(length)) != 0)
        return false;
    // Strings, arrays and objects end in themselves; a number or a word must not go on ("1" is not "12").
    const char last = bytes[length - 1];
    if (last != '"' && last != ']' && last != '}') {
        if (m_end - m_pos == length)
            return false;
        const char next = m_pos[length];
        if (isDigit(next) || next == '.' || next == 'e' || next == 'E' || next == '+' || next == '-'
            || (next >= 'a' && next <= 'z'))
            return false;
    }
    m_pos += length;
    return true;
}

bool JsonReader::finish()
{
    skipBlanks();
    return m_pos && m_pos == m_end;
}

namespace {

/// The code points of a key as QStringIterator gives them: an unpaired surrogate as U+FFFD.
std::vector<char32_t> codePoints(const QString &text)
{
    std::vector<char32_t> points;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            points.push_back(QChar::surrogateToUcs4(c, text.at(i + 1)));
            ++i;
        } else {
            points.push_back(c.isSurrogate() ? 0xfffd : c.unicode());
        }
    }
    return points;
}

template <class Sequence> int compareSequences(const Sequence &a, const Sequence &b)
{
    const size_t common = std::min(size_t(a.size()), size_t(b.size()));
    for (size_t i = 0; i < common; ++i) {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace

int JsonObjectKeys::compare(const Key &a, const Key &b)
{
    if (a.escaped && b.escaped) {
        return compareSequences(
            std::u16string(reinterpret_cast<const char16_t *>(a.text.utf16()), size_t(a.text.size())),
            std::u16string(reinterpret_cast<const char16_t *>(b.text.utf16()), size_t(b.text.size())));
    }
    if (!a.escaped && !b.escaped) {
        return compareSequences(std::basic_string<unsigned char>(a.utf8.begin(), a.utf8.end()),
            std::basic_string<unsigned char>(b.utf8.begin(), b.utf8.end()));
    }
    return compareSequences(codePoints(a.text), codePoints(b.text));
}

JsonObjectKeys::JsonObjectKeys(const char *begin, const char *end)
{
    JsonReader json(begin, end);
    json.enterObject();
    for (int member = 0; json.nextMember(); ++member) {
        Key key { json.key(), QByteArray(), json.m_keyEscaped, member };
        if (!key.escaped)
            key.utf8 = QByteArray(json.m_key, json.m_keyLength);
        m_kept.push_back(std::move(key));
        json.skipValue();
    }
    // As QJsonObject sorts, and then keeps the last of each run of equal keys.
    std::sort(m_kept.begin(), m_kept.end(), [](const Key &a, const Key &b) { return compare(a, b) < 0; });
    const auto kept
        = std::unique(m_kept.rbegin(), m_kept.rend(), [](const Key &a, const Key &b) { return compare(a, b) == 0; });
    m_kept.erase(m_kept.begin(), kept.base());
}

int JsonObjectKeys::memberFor(QLatin1String name) const
{
    // For an ASCII name every one of the three orders agrees.
    const QString wanted(name);
    const auto found = std::lower_bound(
        m_kept.begin(), m_kept.end(), wanted, [](const Key &key, const QString &text) { return key.text < text; });
    return found != m_kept.end() && found->text == wanted ? found->member : -1;
}
