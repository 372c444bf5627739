#include "application.h"
#include "messages.h"

#include "db/ibase.h"

#include <exception>

void reportCurrentException()
{
    QString text;
    try {
        throw;
    } catch (const db::DbError &e) {
        if (e.connectionLost())
            text = QStringLiteral("Соединение с базой данных потеряно. Введённые и не сохранённые данные остались "
                                  "на экране; сохраните их, когда база данных снова будет доступна, или перезапустите "
                                  "программу.\r\r") + e.text();
        else
            text = e.fromEngine() ? QStringLiteral("Ошибка базы данных:\r") + e.text() : e.text();
    } catch (const std::exception &e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("Непредвиденная ошибка");
    }
    msg::error(nullptr, text);
}

bool ZApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportCurrentException();
        return false;
    }
}
