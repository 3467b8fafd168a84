#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <vector>

// Finds a query in UTF-8 text. Without case sensitivity, letters compare by Unicode simple
// case folding (for ASCII that is the plain a-z/A-Z folding). Every line break (LF, CR, CR LF,
// U+2028, U+2029) is one line break, matched only by a line break of the query, so a query
// without one never matches across lines. Every other character is literal.
class TTextMatcher {
public:
    TTextMatcher(const QString& query, bool caseSensitive);

    bool IsEmpty() const { return query_.empty(); }
    bool CaseSensitive() const { return caseSensitive_; }

    struct Span {
        qsizetype begin = -1; // byte offsets; begin -1 when nothing was found
        qsizetype end = -1;
        bool Found() const { return begin >= 0; }
    };
    // The first match that starts at or after byte from.
    Span Find(QByteArrayView text, qsizetype from = 0) const;
    bool Contains(QByteArrayView text) const { return Find(text).Found(); }

private:
    struct Anchor {
        int index = 0;                 // first query character it covers
        int length = 0;                // characters it covers
        std::vector<QByteArray> forms; // every UTF-8 form it may take in the text
    };

    // Two query characters a fixed number of bytes apart in every match, compared byte for
    // byte after OR-ing the mask in (a letter's case bit).
    struct Pair {
        int first = -1; // query index of the first; -1: there is no such pair
        int distance = 0;
        unsigned char a = 0, aMask = 0, b = 0, bMask = 0;
    };

    Span FindByPair(QByteArrayView text, qsizetype from) const;
    bool MatchForward(QByteArrayView text, qsizetype at, int from, qsizetype* end) const;
    bool MatchBackward(QByteArrayView text, qsizetype at, int before, qsizetype* begin) const;

    bool caseSensitive_;
    std::vector<char32_t> query_; // folded; line breaks as LineBreak
    Anchor anchor_;
    Pair pair_;
};

// UTF-16 length of the UTF-8 bytes.
qsizetype Utf16Length(QByteArrayView utf8);
