#include "shell.h"

#include <QDesktopServices>

namespace shell {
namespace {
bool g_test = false;
QList<QUrl> g_opened;
} // namespace

bool open(const QUrl &url)
{
    if (g_test) {
        g_opened.append(url);
        return true;
    }
    return QDesktopServices::openUrl(url);
}

bool openFile(const QString &path)
{
    return open(QUrl::fromLocalFile(path));
}

void setTestMode(bool on)
{
    g_test = on;
    g_opened.clear();
}

QList<QUrl> takeOpened()
{
    return std::exchange(g_opened, {});
}

} // namespace shell
