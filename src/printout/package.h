#pragma once
// An Office Open XML package (a zip file) held in memory: its files by name,
// in their original order. Names compare without regard to case.

#include "workbook.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace printout {

// The failure told for a template that is no sound workbook: what happened
// to which file (`what`), what to do, and the cause (`why`) below.
Error brokenTemplate(const QString &what, const QString &why);

class Package
{
public:
    // Reads every file of the zip file at `path`. Throws Error saying why it cannot.
    void load(const QString &path);
    // The same from the file's bytes; `what` names it in error texts.
    void loadBytes(const QByteArray &zip, const QString &what);

    bool contains(const QString &name) const { return m_index.contains(name.toLower()); }
    QByteArray file(const QString &name) const;
    // Replaces the file or adds it at the end.
    void setFile(const QString &name, const QByteArray &data);
    void removeFile(const QString &name);
    QStringList names() const;

    // The package as zip bytes; pictures are stored, everything else deflated.
    QByteArray save() const;

private:
    void reindex();

    QList<QPair<QString, QByteArray>> m_files;
    QHash<QString, qsizetype> m_index; // lower-case name -> position
};

} // namespace printout
