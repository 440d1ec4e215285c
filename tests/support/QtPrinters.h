#pragma once

// Lets GoogleTest print Qt text in failure messages instead of raw bytes.

#include <QString>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
