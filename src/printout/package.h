#pragma once
// An Office Open XML package (a zip file) held in memory: its parts by name,
// in their original order. Part names compare without regard to case.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace printout {

class Package
{
public:
    // Reads every part of the zip file at `path`. Throws Error saying why it cannot.
    void load(const QString &path);
    // The same from the file's bytes; `what` names it in error texts.
    void loadBytes(const QByteArray &zip, const QString &what);

    bool contains(const QString &name) const { return m_index.contains(name.toLower()); }
    QByteArray part(const QString &name) const;
    // Replaces the part or adds it at the end.
    void setPart(const QString &name, const QByteArray &data);
    void removePart(const QString &name);
    QStringList names() const;

    // The package as zip bytes; pictures are stored, everything else deflated.
    QByteArray save() const;

private:
    void reindex();

    QList<QPair<QString, QByteArray>> m_parts;
    QHash<QString, qsizetype> m_index; // lower-case name -> position
};

} // namespace printout
