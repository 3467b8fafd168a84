#pragma once

#include <QByteArray>
#include <QString>

// Text from another program's file: UTF-8 (with or without a byte-order mark), else the
// Chinese national encoding (GB18030). Bytes that are neither become U+FFFD, and *replaced
// says so.
QString DecodeForeignText(QByteArray bytes, bool* replaced = nullptr);
