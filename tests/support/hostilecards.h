#pragma once
// Card files of hostile shapes, n pieces long: the reading tests check what
// is read from them, the benchmark times them at n and 2n. Header only, as
// both the tests and the benchmark include this folder.

#include <QByteArray>

namespace hostile {

// A 2.1 note in quoted-printable after a long parameter, its value in n
// lines joined by soft line breaks: "АБ 0АБ 1…АБ n-1В".
inline QByteArray softBreaks(int n)
{
    QByteArray f = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Иванов;Иван\r\nNOTE;X-LABEL=" + QByteArray(20 * n, 'x') +
                   ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:";
    for (int i = 0; i < n; ++i)
        f += "=D0=90=D0=91 " + QByteArray::number(i) + "=\r\n";
    return f + "=D0=92\r\nEND:VCARD\r\n";
}

// One card with n e-mails of its own: p0@example.ru … p<n-1>@example.ru.
inline QByteArray manyMails(int n)
{
    QByteArray f = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Иванов;Иван\r\n";
    for (int i = 0; i < n; ++i)
        f += "EMAIL;TYPE=INTERNET:p" + QByteArray::number(i) + "@example.ru\r\n";
    return f + "END:VCARD\r\n";
}

// One card with n web addresses of its own: https://example.ru/0 … /n-1.
inline QByteArray manyUrls(int n)
{
    QByteArray f = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Иванов;Иван\r\n";
    for (int i = 0; i < n; ++i)
        f += "URL:https://example.ru/" + QByteArray::number(i) + "\r\n";
    return f + "END:VCARD\r\n";
}

// A CSV row whose last cell holds n quotes between "a" and "z".
inline QByteArray csvQuotes(int n)
{
    return "Фамилия,Имя,Прочее\r\nИванов,Иван,a" + QByteArray(n, '"') + "z\r\n";
}

// A CSV table of one wide row: n stray Windows-1251 bytes on one line of
// UTF-8 text.
inline QByteArray csvStrayBytes(int n)
{
    QByteArray f = "Фамилия,Имя,Прочее\r\nИванов,Иван,";
    for (int i = 0; i < n; ++i)
        f += "Пётр Петрович O\x92"
             "Brien ещё немного текста по-русски, ";
    return f + "\r\n";
}

} // namespace hostile
