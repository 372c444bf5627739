#pragma once
// Texts that a user types to find something (a search box, the login box)
// are compared in the database as values; these checks say, before anything
// is sent, why a text cannot be.

#include <QString>

namespace core {

enum class TypedUse { Search, Login };

// Why `text` cannot be compared in the database, worded for what the user
// was doing; empty when it can.
QString typedTextProblem(const QString &text, TypedUse use);

// The character at `pos` (a whole surrogate pair) and its code point, as
// «😀» (U+1F600).
QString describeCharAt(const QString &text, qsizetype pos);

// The position of the first character that Windows-1251 cannot hold, or -1.
qsizetype firstUnencodable(const QString &text);

} // namespace core
