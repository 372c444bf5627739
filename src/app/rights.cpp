#include "rights.h"
#include "messages.h"
#include "state.h"

bool checkFullRights(QWidget *owner, const SessionUserT &user)
{
    if (user.fullRights())
        return true;
    msg::error(owner, QStringLiteral("Недостаточно прав"));
    return false;
}
