#pragma once

#include <QString>

#include <ostream>

// Readable Qt strings in GoogleTest failure messages (UTF-8 text instead of
// the bytes of QChar objects). Found by argument-dependent lookup, so it
// lives beside QString in the global namespace.
inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }
