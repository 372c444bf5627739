#include "typedtext.h"

#include "db/columns.h"
#include "db/cp1251.h"
#include "db/statements.h"

#include <QLocale>

namespace core {

QString typedTextProblem(const QString &text, TypedUse use)
{
    const bool search = use == TypedUse::Search;
    if (text.size() > sql::kLongestTypedText - 2) // room for the two "%" of a pattern
        return (search ? QStringLiteral("Текст для поиска слишком длинный: %1, искать можно не больше %2.\r"
                                        "Сократите его.")
                       : QStringLiteral("Логин слишком длинный: %1, а логин не бывает длиннее %2.\r"
                                        "Проверьте, что введено в поле «Пользователь»."))
            .arg(db::characterCount(text.size()), QLocale().toString(sql::kLongestTypedText - 2));
    const qsizetype bad = cp1251::firstUnencodable(text);
    if (bad >= 0)
        return (search ? QStringLiteral("Символ %1 нельзя искать: в базе данных текст хранится в кодировке "
                                        "Windows-1251, и такого символа в ней нет.\rУберите его из поля поиска.")
                       : QStringLiteral("Символ %1 не может быть частью логина: в базе данных текст хранится в "
                                        "кодировке Windows-1251, и такого символа в ней нет.\rПроверьте, что введено "
                                        "в поле «Пользователь»."))
            .arg(cp1251::describeChar(text, bad));
    return QString();
}

} // namespace core
