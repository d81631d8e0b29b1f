#pragma once
#include <QByteArray>
#include <QLatin1String>
#include <QString>

#include <vector>

/// A strict, single-pass JSON reader that goes from the bytes straight to the values a caller asks for,
/// checking and skipping the rest without building a document.
///
/// It accepts exactly what QJsonDocument::fromJson of Qt 5.15 accepts, so that a reply the one refuses the
/// other refuses too: a UTF-8 byte order mark at the very start; blanks (space, tab, CR, LF) between tokens;
/// raw control characters inside strings; an unknown escape standing for the character after the
/// backslash (and a byte above 0x7f after one for two odd UTF-16 units, see decodeString); \u escapes
/// kept as UTF-16 units as they are, unpaired surrogates included (but a byte order mark that begins a
/// string written without escapes dropped, as QJsonDocument's UTF-8 strings lose it); strictly
/// well-formed UTF-8 (no overlong forms, no encoded surrogates, nothing above U+10FFFF); numbers as loose
/// as "1." and ".5" but none that QByteArray::toDouble refuses ("1e400", "1e-400"); at most 1024 nested
/// arrays and objects; nothing but blanks after the top-level value.
///
/// Usage: peek() tells what comes next; enterArray()/nextElement() and enterObject()/nextMember() walk
/// containers; readString(), readScalarText() or skipValue() consume one value. Once the input is found
/// wrong every call fails and ok() is false for good.
class JsonReader
{
public:
    enum class Kind { Array, Object, String, Other };

    JsonReader(const char *begin, const char *end);

    bool ok() const { return m_pos != nullptr; }
    /// The kind of the next value (blanks skipped).
    Kind peek();
    /// Consumes the '[' of the next value, which peek() said is an array.
    void enterArray();
    /// True when the array entered last has another element (its separator consumed); false at its
    /// end (the ']' consumed) or when the input is wrong.
    bool nextElement();
    /// Consumes the '{' of the next value, which peek() said is an object.
    void enterObject();
    /// True with the next member's key read and its ':' consumed; false at the end of the object or when
    /// the input is wrong.
    bool nextMember();
    /// Whether the key of the member read last is this one (compared after its escapes are decoded).
    bool keyIs(QLatin1String name) const;
    /// That key, decoded.
    QString key() const;
    /// Whether that key is written in ASCII without escapes, the form QJsonDocument orders plainly.
    bool keyIsPlain() const { return m_keyPlain; }
    /// The next value when it is a string; any other value is skipped and gives an empty string.
    QString readString();
    /// A string's text, or a number exactly as written; any other value is skipped and gives an empty string.
    QString readScalarText();
    void skipValue();
    /// True when only blanks follow and nothing was wrong: the document was read whole.
    bool finish();

    /// Where the next value starts (blanks skipped); with position() after reading it, its bytes.
    const char *valueStart();
    const char *position() const { return m_pos; }
    /// When the next value is these bytes, those of a value read earlier at the same depth, consumes it
    /// and returns true: a value that repeats (a till and its cameras) need not be checked and decoded again.
    bool skipRepeat(const char *bytes, int length);

private:
    void fail() { m_pos = nullptr; }
    void skipBlanks();
    /// Consumes a string, the opening quote already consumed; with out, decodes it there.
    void scanString(QString *out);
    /// Consumes a number token; its bytes in *start and *length.
    void scanNumber(const char **start, int *length);
    void skipContainer();
    bool enterContainer();
    /// Past the separator before the next element or member of the container entered last, which ends in
    /// close: true when one follows; false at its end (close consumed) or when the input is wrong.
    bool advance(char close);

    const char *m_pos;
    const char *m_end;
    int m_depth = 0;
    /// Whether the container entered last has given an element or member yet (a separator comes first).
    bool m_first = false;
    const char *m_key = nullptr;
    int m_keyLength = 0;
    bool m_keyEscaped = false;
    bool m_keyPlain = true;
    bool m_keepByteOrderMark = false;

    friend class JsonObjectKeys;
};

/// Which member of an object QJsonObject::value(key) gives (Qt 5.15), where that is not simply the last
/// one with the key. QJsonObject sorts an object's members by key and keeps one of each key: the last of
/// a run of equal keys once sorted. Its sort is std::sort, stable only up to 16 members, and it orders
/// keys three ways: keys written with an escape among themselves by UTF-16 unit, keys written without
/// among themselves by UTF-8 byte, one of each by code point (an unpaired surrogate as U+FFFD), which is
/// not even a consistent order once keys go beyond ASCII. So an object that repeats a key among more
/// than 16 members, or has keys beyond ASCII, is read again with the member this finds for each key.
class JsonObjectKeys
{
public:
    /// The keys of the object whose bytes (read and found sound already) run from begin to end.
    JsonObjectKeys(const char *begin, const char *end);
    /// The member, counted from 0 in the order written, whose value QJsonObject gives for that key;
    /// -1 when it finds none.
    int memberFor(QLatin1String name) const;

private:
    struct Key {
        QString text;
        QByteArray utf8; ///< as written, for a key without escapes
        bool escaped;
        int member;
    };
    static int compare(const Key &a, const Key &b);
    std::vector<Key> m_kept;
};
