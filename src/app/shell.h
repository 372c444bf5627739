#pragma once
// The desktop's default action on a file, a web address or a "mailto:"
// address. Every window goes through here; tests switch it to a log that
// records what would have been opened.

#include <QList>
#include <QUrl>

namespace shell {

// Opens `url` with the desktop's default program; false when nothing took it.
bool open(const QUrl &url);
// A local file, by its path.
bool openFile(const QString &path);

// Test mode: nothing is opened; each request is logged and succeeds.
void setTestMode(bool on);
QList<QUrl> takeOpened();

} // namespace shell
