#include "settingsfile.h"
#include "safefiles.h"

#include <QFile>
#include <QList>

namespace core {
namespace {

const QByteArray kSection("main");
const QByteArray kUser("user");
const QByteArray kPass("pass");
const QByteArray kBom("\xEF\xBB\xBF");

// The file's lines without their LF or CR LF endings.
QList<QByteArray> splitLines(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (lines.last().isEmpty())
        lines.removeLast(); // the text ended in LF, or was empty
    for (QByteArray &line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// True for a section header "[name]"; a byte order mark before the first
// line (as Notepad writes it) is not part of the header.
bool sectionHeader(QByteArray line, QByteArray *name)
{
    if (line.startsWith(kBom))
        line.remove(0, kBom.size());
    line = line.trimmed();
    if (line.size() < 2 || !line.startsWith('[') || !line.endsWith(']'))
        return false;
    *name = line.mid(1, line.size() - 2).trimmed();
    return true;
}

// The key of a "key=value" line, or empty text for any other line.
QByteArray keyOf(const QByteArray &line)
{
    const qsizetype eq = line.indexOf('=');
    return eq < 0 ? QByteArray() : line.left(eq).trimmed();
}

QByteArray valueOf(const QByteArray &line)
{
    return line.mid(line.indexOf('=') + 1);
}

QByteArray keyLine(const QByteArray &key, QString value)
{
    value.remove(QLatin1Char('\r'));
    value.remove(QLatin1Char('\n'));
    return key + '=' + value.toUtf8();
}

bool makeOwnerOnly(QFile &f)
{
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const QFileDevice::Permissions p = f.permissions();
    return !(p & others) || f.setPermissions(p & owner);
}

} // namespace

LoginSettings parseLoginSettings(const QByteArray &text)
{
    LoginSettings s;
    bool haveUser = false;
    bool havePass = false;
    bool inMain = false;
    for (const QByteArray &line : splitLines(text)) {
        QByteArray name;
        if (sectionHeader(line, &name)) {
            inMain = sameName(name, kSection);
            continue;
        }
        if (!inMain)
            continue;
        const QByteArray key = keyOf(line);
        if (!haveUser && sameName(key, kUser)) {
            s.user = QString::fromUtf8(valueOf(line));
            haveUser = true;
        } else if (!havePass && sameName(key, kPass)) {
            s.pass = QString::fromUtf8(valueOf(line));
            havePass = true;
        }
    }
    return s;
}

QByteArray updateLoginSettings(const QByteArray &text, const LoginSettings &values)
{
    const QByteArray userLine = keyLine(kUser, values.user);
    const QByteArray passLine = keyLine(kPass, values.pass);
    QList<QByteArray> lines = splitLines(text);
    qsizetype header = -1;
    qsizetype user = -1;
    qsizetype pass = -1;
    bool inMain = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray name;
        if (sectionHeader(lines[i], &name)) {
            inMain = sameName(name, kSection);
            if (inMain && header < 0)
                header = i;
            continue;
        }
        if (!inMain)
            continue;
        // Every copy of a key gets the new value, so whichever a reader takes is right.
        const QByteArray key = keyOf(lines[i]);
        if (sameName(key, kUser)) {
            lines[i] = userLine;
            if (user < 0)
                user = i;
        } else if (sameName(key, kPass)) {
            lines[i] = passLine;
            if (pass < 0)
                pass = i;
        }
    }
    if (header < 0) {
        lines.append(QByteArray('[' + kSection + ']'));
        header = lines.size() - 1;
    }
    if (user < 0) {
        user = header + 1;
        lines.insert(user, userLine);
        if (pass >= user)
            ++pass;
    }
    if (pass < 0)
        lines.insert(user + 1, passLine);
    return lines.join('\n') + '\n';
}

bool readLoginSettings(const QString &path, LoginSettings *values)
{
    *values = LoginSettings();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    *values = parseLoginSettings(f.readAll());
    return true;
}

bool writeLoginSettings(const QString &path, const LoginSettings &values, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    QFile old(path);
    QByteArray text;
    const bool existed = old.exists();
    if (!existed) {
        // An empty file, made private in the same step that creates it, that
        // the text then replaces: the replacement takes its mode, so the
        // password is never in a file others could read.
        if (!old.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return fail(old.errorString());
        old.close();
    } else {
        if (!old.open(QIODevice::ReadOnly) || !makeOwnerOnly(old))
            return fail(old.errorString());
        text = old.readAll();
        old.close();
    }
    // A full disk or a folder that takes no new file leaves the old text whole.
    QString why;
    if (writeWholeFile(path, updateLoginSettings(text, values), QFileDevice::ReadOwner | QFileDevice::WriteOwner, &why))
        return true;
    if (!existed)
        QFile::remove(path);
    return fail(why);
}

} // namespace core
