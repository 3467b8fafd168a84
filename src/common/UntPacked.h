#pragma once

#include <QByteArray>
#include <optional>

// Texts kept for a long time (earlier versions of a note) are packed with zstd. A version
// is mostly the text beside it with a few changes, so it is packed against that text: the
// packed form then holds little more than the changes.

// Packs data on its own.
QByteArray Pack(const QByteArray& data);
// Packs data against base; unpacking it needs the same base.
QByteArray PackAgainst(const QByteArray& data, const QByteArray& base);
// The data packed by Pack (base empty) or PackAgainst (the same base); nothing when the
// packed form is damaged or the base is not the one it was packed against.
std::optional<QByteArray> Unpack(const QByteArray& packed, const QByteArray& base = {});
