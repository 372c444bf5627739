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

} // namespace core
