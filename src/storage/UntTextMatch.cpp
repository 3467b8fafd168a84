#include "UntTextMatch.h"

#include <QChar>
#include <QList>
#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace {

// Outside Unicode: one line break of any kind, and a byte that is not UTF-8.
constexpr char32_t LineBreak = 0x110000;
constexpr char32_t BadByte = 0x110001;

bool IsLineBreak(char32_t c) {
    return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029;
}

char32_t Fold(char32_t c, bool caseSensitive) {
    if (c < 0x80) { // most of any text: spared the table
        if (c == u'\n' || c == u'\r')
            return LineBreak;
        return !caseSensitive && c >= u'A' && c <= u'Z' ? c + 32 : c;
    }
    if (IsLineBreak(c))
        return LineBreak;
    if (caseSensitive || c > 0x10FFFF)
        return c;
    return QChar::toCaseFolded(c);
}

// Every character that folds to a given one other than itself. Case folding exists in the
// first two planes only.
const std::unordered_map<char32_t, std::vector<char32_t>>& OtherCases() {
    static const auto table = [] {
        std::unordered_map<char32_t, std::vector<char32_t>> map;
        for (char32_t c = 0; c < 0x20000; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            const char32_t folded = QChar::toCaseFolded(c);
            if (folded != c)
                map[folded].push_back(c);
        }
        return map;
    }();
    return table;
}

QByteArray Utf8Of(char32_t c) {
    return QString::fromUcs4(&c, 1).toUtf8();
}

// The character starting at byte i, and its length in bytes.
char32_t Decode(QByteArrayView text, qsizetype i, int* length) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t c = 0;
    if (b0 < 0x80) {
        *length = 1;
        return b0;
    } else if (b0 >= 0xC2 && b0 < 0xE0) {
        extra = 1;
        c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 < 0xF0) {
        extra = 2;
        c = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 < 0xF5) {
        extra = 3;
        c = b0 & 0x07;
    } else {
        *length = 1;
        return BadByte;
    }
    if (i + extra >= text.size()) {
        *length = 1;
        return BadByte;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) {
            *length = 1;
            return BadByte;
        }
        c = (c << 6) | (b & 0x3F);
    }
    *length = extra + 1;
    return c;
}

// The text unit that starts at byte i: a folded character, or one line break (CR LF is one).
char32_t UnitAt(QByteArrayView text, qsizetype i, bool caseSensitive, int* length) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
        *length = 2;
        return LineBreak;
    }
    return Fold(Decode(text, i, length), caseSensitive);
}

// The text unit that ends just before byte end.
char32_t UnitBefore(QByteArrayView text, qsizetype end, bool caseSensitive, int* length) {
    if (text[end - 1] == '\n' && end >= 2 && text[end - 2] == '\r') {
        *length = 2;
        return LineBreak;
    }
    qsizetype start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
        --start;
    int decoded = 0;
    const char32_t c = Decode(text, start, &decoded);
    if (start + decoded != end) { // not a whole character: a stray byte
        *length = 1;
        return BadByte;
    }
    *length = decoded;
    return Fold(c, caseSensitive);
}

} // namespace

TTextMatcher::TTextMatcher(const QString& query, bool caseSensitive)
    : caseSensitive_(caseSensitive) {
    const QList<uint> ucs4 = query.toUcs4();
    for (qsizetype i = 0; i < ucs4.size(); ++i) {
        const char32_t c = ucs4[i];
        if (c == u'\r' && i + 1 < ucs4.size() && ucs4[i + 1] == u'\n')
            continue; // CR LF is one line break: the LF stands for it
        query_.push_back(Fold(c, caseSensitive));
    }
    if (query_.empty())
        return;

    // The anchor is what the text is scanned for; the rest is compared around each place it
    // occurs. Best is the longest run of characters that have no other case (Chinese,
    // digits, punctuation): it can be looked for byte for byte.
    const auto& others = OtherCases();
    auto caseless = [&](char32_t c) {
        return c != LineBreak && (caseSensitive_ || others.find(c) == others.end());
    };
    int bestStart = -1;
    int bestBytes = 0;
    int bestLength = 0;
    for (int i = 0; i < static_cast<int>(query_.size());) {
        if (!caseless(query_[i])) {
            ++i;
            continue;
        }
        int j = i;
        int bytes = 0;
        while (j < static_cast<int>(query_.size()) && caseless(query_[j]))
            bytes += static_cast<int>(Utf8Of(query_[j++]).size());
        if (bytes > bestBytes) {
            bestStart = i;
            bestBytes = bytes;
            bestLength = j - i;
        }
        i = j;
    }
    // Without case, a stretch of ASCII characters that have no form beyond ASCII is the same
    // number of bytes in every match: its first and last character are looked for together.
    int bestStretch = 0;
    for (int i = 0; i < static_cast<int>(query_.size());) {
        auto single = [&](char32_t c) {
            if (c >= 0x80)
                return false;
            const auto at = others.find(c);
            return at == others.end() || std::all_of(at->second.begin(), at->second.end(),
                                                     [](char32_t o) { return o < 0x80; });
        };
        int j = i;
        while (j < static_cast<int>(query_.size()) && single(query_[j]))
            ++j;
        if (j - i > bestStretch) {
            bestStretch = j - i;
            pair_.first = i;
            pair_.distance = j - i - 1;
        }
        i = j + 1;
    }
    if (caseSensitive_ || bestStretch < 2 || bestStretch <= bestBytes)
        pair_.first = -1;
    if (pair_.first >= 0) {
        auto set = [](char32_t c, unsigned char* value, unsigned char* mask) {
            const bool letter = c >= u'a' && c <= u'z';
            *value = static_cast<unsigned char>(c);
            *mask = letter ? 0x20 : 0;
        };
        set(query_[pair_.first], &pair_.a, &pair_.aMask);
        set(query_[pair_.first + pair_.distance], &pair_.b, &pair_.bMask);
        return;
    }
    if (bestStart >= 0 && (bestBytes >= 2 || query_.size() == 1)) {
        anchor_.index = bestStart;
        anchor_.length = bestLength;
        QByteArray run;
        for (int k = bestStart; k < bestStart + bestLength; ++k)
            run += Utf8Of(query_[k]);
        anchor_.forms.push_back(run);
        return;
    }
    // Otherwise one character in every form it takes; the one whose forms are longest
    // gives the fewest false starts, and among letters the one least common in text.
    const auto commonness = [](char32_t c) {
        static const char byUse[] = "etaoinshrdlcumwfgypbvkjxqz";
        const char* at = c < 128 ? std::strchr(byUse, static_cast<char>(c | 0x20)) : nullptr;
        return at ? static_cast<int>(sizeof byUse - (at - byUse)) : 0;
    };
    auto formsOf = [&](char32_t c) {
        std::vector<QByteArray> forms;
        if (c == LineBreak) {
            for (const char* lb : {"\n", "\r", "\xE2\x80\xA8", "\xE2\x80\xA9"})
                forms.emplace_back(lb);
            return forms;
        }
        forms.push_back(Utf8Of(c));
        if (const auto at = others.find(c); at != others.end())
            for (char32_t other : at->second)
                forms.push_back(Utf8Of(other));
        return forms;
    };
    int best = 0;
    qsizetype bestShortest = -1;
    for (int i = 0; i < static_cast<int>(query_.size()); ++i) {
        if (query_[i] == LineBreak)
            continue;
        qsizetype shortest = 4;
        for (const QByteArray& form : formsOf(query_[i]))
            shortest = std::min(shortest, form.size());
        if (shortest > bestShortest ||
            (shortest == bestShortest && commonness(query_[i]) < commonness(query_[best]))) {
            best = i;
            bestShortest = shortest;
        }
    }
    anchor_.index = best;
    anchor_.length = 1;
    anchor_.forms = formsOf(query_[best]);
}

bool TTextMatcher::MatchForward(QByteArrayView text, qsizetype at, int from, qsizetype* end) const {
    for (int k = from; k < static_cast<int>(query_.size()); ++k) {
        if (at >= text.size())
            return false;
        int length = 0;
        if (UnitAt(text, at, caseSensitive_, &length) != query_[k])
            return false;
        at += length;
    }
    *end = at;
    return true;
}

bool TTextMatcher::MatchBackward(QByteArrayView text, qsizetype at, int before,
                                 qsizetype* begin) const {
    for (int k = before - 1; k >= 0; --k) {
        if (at <= 0)
            return false;
        int length = 0;
        if (UnitBefore(text, at, caseSensitive_, &length) != query_[k])
            return false;
        at -= length;
    }
    *begin = at;
    return true;
}

TTextMatcher::Span TTextMatcher::FindByPair(QByteArrayView text, qsizetype from) const {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const qsizetype size = text.size();
    const qsizetype d = pair_.distance;
    auto verify = [&](qsizetype p, Span* span) {
        return MatchBackward(text, p, pair_.first, &span->begin) && span->begin >= from &&
               MatchForward(text, p + 1, pair_.first + 1, &span->end);
    };
    qsizetype p = from + pair_.first; // the earliest the first of the pair can stand
    // Sixteen places at a time; the compiler makes vector instructions of it on any machine.
    using Bytes = unsigned char __attribute__((vector_size(16)));
    const Bytes a = Bytes{} + pair_.a, aMask = Bytes{} + pair_.aMask;
    const Bytes b = Bytes{} + pair_.b, bMask = Bytes{} + pair_.bMask;
    for (; p + d + 16 <= size; p += 16) {
        Bytes x, y;
        std::memcpy(&x, bytes + p, 16);
        std::memcpy(&y, bytes + p + d, 16);
        const auto hits = ((x | aMask) == a) & ((y | bMask) == b);
        quint64 half[2];
        std::memcpy(half, &hits, 16);
        if (!(half[0] | half[1]))
            continue;
        for (int k = 0; k < 16; ++k) {
            Span span;
            if (hits[k] && verify(p + k, &span))
                return span;
        }
    }
    for (; p + d < size; ++p) {
        Span span;
        if ((bytes[p] | pair_.aMask) == pair_.a && (bytes[p + d] | pair_.bMask) == pair_.b &&
            verify(p, &span))
            return span;
    }
    return {};
}

TTextMatcher::Span TTextMatcher::Find(QByteArrayView text, qsizetype from) const {
    if (query_.empty() || from < 0)
        return {};
    if (pair_.first >= 0)
        return FindByPair(text, from);
    const bool lineBreakAnchor = anchor_.length == 1 && query_[anchor_.index] == LineBreak;
    const size_t count = anchor_.forms.size();
    std::vector<qsizetype> next(count, -2); // -2: not looked for yet, -1: no more
    qsizetype pos = from;
    for (;;) {
        qsizetype candidate = -1;
        size_t which = 0;
        for (size_t k = 0; k < count; ++k) {
            if (next[k] == -1)
                continue;
            if (next[k] < pos) {
                const QByteArray& form = anchor_.forms[k];
                const void* hit = pos + form.size() <= text.size()
                                      ? memmem(text.data() + pos, text.size() - pos,
                                               form.constData(), form.size())
                                      : nullptr;
                next[k] = hit ? static_cast<const char*>(hit) - text.data() : -1;
                if (next[k] < 0)
                    continue;
            }
            if (candidate < 0 || next[k] < candidate) {
                candidate = next[k];
                which = k;
            }
        }
        if (candidate < 0)
            return {};
        qsizetype anchorEnd = candidate + anchor_.forms[which].size();
        bool usable = true;
        if (lineBreakAnchor) {
            // The LF of a CR LF belongs to the line break that starts at its CR.
            if (text[candidate] == '\n' && candidate > from && text[candidate - 1] == '\r')
                usable = false;
            else if (text[candidate] == '\r' && anchorEnd < text.size() && text[anchorEnd] == '\n')
                ++anchorEnd;
        }
        qsizetype begin = 0;
        qsizetype end = 0;
        if (usable && MatchBackward(text, candidate, anchor_.index, &begin) && begin >= from &&
            MatchForward(text, anchorEnd, anchor_.index + anchor_.length, &end))
            return {begin, end};
        pos = candidate + 1;
    }
}

qsizetype Utf16Length(QByteArrayView utf8) {
    qsizetype units = 0;
    for (char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b & 0xC0) != 0x80)
            ++units;
        if (b >= 0xF0)
            ++units;
    }
    return units;
}
