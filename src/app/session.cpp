#include "session.h"
#include "messages.h"
#include "paths.h"

#include "core/dbpath.h"
#include "db/schema.h"

#include <QDir>
#include <QFileInfo>

Session::Session(const QString &folder) : programFolder(folder.isEmpty() ? paths::executableFolder() : folder) {}

QString Session::tempFolder()
{
    if (m_scratch.path().isEmpty()) // made on first use, and anew when it went away
        m_scratch.make(paths::join(programFolder, QStringLiteral("temp")), paths::tempFolderName());
    return m_scratch.path();
}

void Session::removeTempFolder()
{
    m_scratch.remove();
}

Session::Opened Session::OpenDatabase(QWidget *owner)
{
    const QString folder = programFolder;
    const core::DatabaseChoice choice = core::chooseDatabase(folder);
    const QString path = choice.path;
    if (choice.noPathFile)
        msg::plain(owner, QStringLiteral("Файл пути к базе данных не найден\r"
                                         "Создайте в папке программы файл path.txt\r"
                                         "и запишите туда путь к б.д."));
    if (path.isEmpty() || !(paths::isServerPath(path) || QFileInfo(path).isFile())) {
        msg::plain(owner, QStringLiteral("Файл базы данных не найден\rпрограмма будет закрыта"));
        return Opened::EndProgram;
    }
    const QString cannotConnect = QStringLiteral("Не удалось подключиться к базе данных\r%1\r\r%2");
    // The engine opens a local file itself, through its lock folder: a folder
    // it cannot trust or fill would lose data or crash it.
    if (!paths::isServerPath(path)) {
        const QString problem = db::lockFolderProblem(db::lockFolder());
        if (!problem.isEmpty()) {
            msg::error(owner, cannotConnect.arg(QDir::toNativeSeparators(path), problem));
            return Opened::No;
        }
    }
    try {
        db.IBDbase.databaseName = path;
        db.IBDbase.open();
    } catch (const db::DbError &e) {
        // Nothing was connected yet: told as a failed connection; the
        // program's window stays, empty.
        msg::error(owner, cannotConnect.arg(QDir::toNativeSeparators(path), e.text()));
        return Opened::No;
    }
    // Nothing of the schema changes here: that is the administrator's choice.
    schema::trimChangeLog(db.IBDbase);
    PhotoFolder = paths::join(folder, QStringLiteral("files"));
    // Sticky: a user may not rename a colleague's photo folder (and put a
    // link in its place while that colleague saves into it).
    paths::makeSharedFolder(PhotoFolder, true);
    return Opened::Yes;
}
