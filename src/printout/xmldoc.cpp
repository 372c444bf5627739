#include "xmldoc.h"

#include <QStringList>

namespace printout::xml {

bool XmlDoc::parse(const QByteArray &data)
{
    const pugi::xml_parse_result r =
        doc.load_buffer(data.constData(), size_t(data.size()),
                        pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata_single);
    if (!r || !doc.document_element())
        return false;
    // Written back as UTF-8 whatever it was read as.
    if (pugi::xml_node decl = doc.first_child(); decl.type() == pugi::node_declaration)
        if (pugi::xml_attribute enc = decl.attribute("encoding"))
            enc.set_value("UTF-8");
    const std::string name = root().name();
    const size_t colon = name.find(':');
    prefix = colon == std::string::npos ? std::string() : name.substr(0, colon + 1);
    names.clear();
    return true;
}

void XmlDoc::create(const char *rootName, const char *ns)
{
    doc.reset();
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    decl.append_attribute("standalone") = "yes";
    pugi::xml_node r = doc.append_child(rootName);
    const std::string name = rootName;
    const size_t colon = name.find(':');
    prefix = colon == std::string::npos ? std::string() : name.substr(0, colon + 1);
    names.clear();
    const std::string xmlns = colon == std::string::npos ? "xmlns" : "xmlns:" + name.substr(0, colon);
    r.append_attribute(xmlns.c_str()) = ns;
}

QByteArray XmlDoc::bytes() const
{
    struct Writer : pugi::xml_writer
    {
        QByteArray out;
        void write(const void *data, size_t size) override
        {
            out.append(static_cast<const char *>(data), qsizetype(size));
        }
    } w;
    doc.save(w, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return w.out;
}

std::string XmlDoc::nsPrefix(const char *ns, const char *wanted)
{
    pugi::xml_node r = root();
    for (pugi::xml_attribute a : r.attributes()) {
        const std::string n = a.name();
        if (n.rfind("xmlns:", 0) == 0 && std::string(a.value()) == ns)
            return n.substr(6);
    }
    std::string p = wanted;
    for (int k = 1; r.attribute(("xmlns:" + p).c_str()); ++k)
        p = std::string(wanted) + std::to_string(k);
    r.append_attribute(("xmlns:" + p).c_str()) = ns;
    return p;
}

std::string localName(const pugi::xml_node &n)
{
    const std::string name = n.name();
    const size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

pugi::xml_node insertInOrder(pugi::xml_node parent, const std::string &prefix, const char *name,
                             std::initializer_list<const char *> order)
{
    int own = -1, i = 0;
    for (const char *o : order) {
        if (std::string(o) == name)
            own = i;
        ++i;
    }
    const std::string full = prefix + name;
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        const std::string local = localName(child);
        int pos = 0, found = -1;
        for (const char *o : order) {
            if (local == o)
                found = pos;
            ++pos;
        }
        if (found > own)
            return parent.insert_child_before(full.c_str(), child);
    }
    return parent.append_child(full.c_str());
}

QString folderOf(const QString &file)
{
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : file.left(slash);
}

QString relsFileOf(const QString &file)
{
    const QString folder = folderOf(file);
    const QString base = file.mid(folder.isEmpty() ? 0 : folder.size() + 1);
    return (folder.isEmpty() ? QString() : folder + QLatin1Char('/')) + QStringLiteral("_rels/") + base +
           QStringLiteral(".rels");
}

QString resolveTarget(const QString &source, const QString &target)
{
    QString t = target;
    t.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QStringList files;
    if (!t.startsWith(QLatin1Char('/'))) {
        const QString folder = folderOf(source);
        if (!folder.isEmpty())
            files = folder.split(QLatin1Char('/'));
    }
    for (const QString &p : t.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (p == QLatin1String("."))
            continue;
        if (p == QLatin1String("..")) {
            if (files.isEmpty())
                return QString();
            files.removeLast();
        } else {
            files << p;
        }
    }
    return files.join(QLatin1Char('/'));
}

QString relativeTarget(const QString &source, const QString &file)
{
    QStringList from = folderOf(source).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QStringList to = file.split(QLatin1Char('/'));
    while (!from.isEmpty() && to.size() > 1 && from.first() == to.first()) {
        from.removeFirst();
        to.removeFirst();
    }
    QString out;
    for (qsizetype i = 0; i < from.size(); ++i)
        out += QStringLiteral("../");
    return out + to.join(QLatin1Char('/'));
}

std::string str(const QString &s)
{
    return s.toStdString();
}

QString qstr(const char *s)
{
    return QString::fromUtf8(s);
}

} // namespace printout::xml
