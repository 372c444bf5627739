#pragma once
// Small helpers for the XML files of a workbook package, on top of pugixml.

#include <QByteArray>
#include <QString>
#include <pugixml.hpp>
#include <map>
#include <string>

namespace printout::xml {

inline constexpr const char *kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr const char *kPackageRelNs = "http://schemas.openxmlformats.org/package/2006/relationships";

// One parsed file. Elements are named through q(), which adds the prefix the
// file's root element carries ("x:" in some generators' files, usually none).
struct XmlDoc
{
    pugi::xml_document doc;
    std::string prefix;
    mutable std::map<std::string, std::string> names;

    // Parses `data`; false when it is no XML with a root element.
    bool parse(const QByteArray &data);
    // A new document with a declaration and the root element `root`.
    void create(const char *root, const char *ns);
    QByteArray bytes() const;

    pugi::xml_node root() const { return doc.document_element(); }
    // The name stays valid as long as the document: pugixml's child ranges keep the pointer.
    const char *q(const char *local) const
    {
        auto it = names.find(local);
        if (it == names.end())
            it = names.emplace(local, prefix + local).first;
        return it->second.c_str();
    }
    // The prefix the root binds to `ns`, declaring `wanted` (or a free
    // variant of it) when none is bound yet.
    std::string nsPrefix(const char *ns, const char *wanted);
};

// An element's name without its prefix.
std::string localName(const pugi::xml_node &n);

// Inserts `name` into `parent` at its place in the schema's child order `order`
// (local names; children not listed are passed over). Returns the new element.
pugi::xml_node insertInOrder(pugi::xml_node parent, const std::string &prefix, const char *name,
                             std::initializer_list<const char *> order);

// Package paths: the file's folder, its relationships file, and targets.
QString folderOf(const QString &file);
QString relsFileOf(const QString &file);
// The file a relationship of `source` points at; empty when it leaves the package.
QString resolveTarget(const QString &source, const QString &target);
// The target that leads from `source` to `file`, relative as spreadsheet programs write it.
QString relativeTarget(const QString &source, const QString &file);

std::string str(const QString &s);
QString qstr(const char *s);

} // namespace printout::xml
