#include "package.h"
#include "workbook.h"

#include <QDir>
#include <QFile>
#include <zip.h>

namespace printout {
namespace {

// A template is a small file: one that unpacks to more than this, or holds
// more parts, is a damaged or hostile one. Both are known from the zip's
// headers, so such a file is refused before anything is unpacked.
constexpr zip_uint64_t kMaxUnpackedMb = 100;
constexpr zip_int64_t kMaxParts = 1000;

QString zipErrorText(zip_error_t *error)
{
    return QString::fromLocal8Bit(zip_error_strerror(error));
}

bool isPicture(const QString &name)
{
    const QString n = name.toLower();
    return n.endsWith(QLatin1String(".png")) || n.endsWith(QLatin1String(".jpeg")) ||
           n.endsWith(QLatin1String(".jpg")) || n.endsWith(QLatin1String(".gif"));
}

} // namespace

void Package::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Не удалось открыть шаблон печатной формы:\r%1\r%2")
                        .arg(QDir::toNativeSeparators(path), file.errorString()));
    loadBytes(file.readAll(), QDir::toNativeSeparators(path));
}

Error brokenTemplate(const QString &what, const QString &why)
{
    return Error(QStringLiteral("Шаблон печатной формы повреждён или не является книгой Excel (.xlsx):\r%1\r"
                                "Замените его исправной книгой Excel с тем же расположением ячеек или верните файл, "
                                "поставляемый с программой.\r\rПодробности: %2")
                     .arg(what, why));
}

void Package::loadBytes(const QByteArray &zip, const QString &what)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(zip.constData(), zip_uint64_t(zip.size()), 0, &error);
    zip_t *archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    if (!archive) {
        const QString why = zipErrorText(&error);
        zip_error_fini(&error);
        if (source)
            zip_source_free(source);
        throw brokenTemplate(what, why);
    }
    zip_error_fini(&error);

    // The parts and their sizes as the headers give them, all of them
    // checked before the first is unpacked.
    QString failure;
    QList<zip_stat_t> parts;
    zip_uint64_t unpacked = 0;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count > kMaxParts)
        failure = QStringLiteral("в нём больше %1 частей").arg(kMaxParts);
    for (zip_int64_t i = 0; i < count && failure.isEmpty(); ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive, zip_uint64_t(i), 0, &st) != 0) {
            failure = QString::fromLocal8Bit(zip_strerror(archive));
        } else if (QByteArray(st.name).endsWith('/')) {
            continue; // a folder entry, not a file
        } else if (!(st.valid & ZIP_STAT_SIZE)) {
            failure = QStringLiteral("размер части «%1» не указан").arg(QString::fromUtf8(st.name));
        } else if (st.size > (kMaxUnpackedMb << 20) - unpacked) {
            failure = QStringLiteral("в распакованном виде его части заняли бы больше %1 МБ").arg(kMaxUnpackedMb);
        } else {
            unpacked += st.size;
            parts.append(st);
        }
    }

    m_files.clear();
    for (qsizetype k = 0; k < parts.size() && failure.isEmpty(); ++k) {
        const zip_stat_t &st = parts.at(k);
        const QString name = QString::fromUtf8(st.name);
        zip_file_t *f = zip_fopen_index(archive, st.index, 0);
        if (!f) {
            failure = QString::fromLocal8Bit(zip_strerror(archive));
            break;
        }
        QByteArray data(qsizetype(st.size), Qt::Uninitialized);
        const zip_int64_t got = zip_fread(f, data.data(), st.size);
        if (got != zip_int64_t(st.size))
            failure =
                QStringLiteral("часть «%1» не читается: %2").arg(name, QString::fromLocal8Bit(zip_file_strerror(f)));
        zip_fclose(f);
        m_files.append({name, data});
    }
    zip_discard(archive); // frees the source too
    if (!failure.isEmpty()) {
        m_files.clear();
        reindex();
        throw brokenTemplate(what, failure);
    }
    reindex();
}

QByteArray Package::file(const QString &name) const
{
    const auto it = m_index.constFind(name.toLower());
    return it == m_index.cend() ? QByteArray() : m_files.at(*it).second;
}

void Package::setFile(const QString &name, const QByteArray &data)
{
    const auto it = m_index.constFind(name.toLower());
    if (it != m_index.cend()) {
        m_files[*it].second = data;
        return;
    }
    m_files.append({name, data});
    m_index.insert(name.toLower(), m_files.size() - 1);
}

void Package::removeFile(const QString &name)
{
    const auto it = m_index.constFind(name.toLower());
    if (it == m_index.cend())
        return;
    m_files.removeAt(*it);
    reindex();
}

QStringList Package::names() const
{
    QStringList out;
    for (const auto &p : m_files)
        out << p.first;
    return out;
}

void Package::reindex()
{
    m_index.clear();
    for (qsizetype i = 0; i < m_files.size(); ++i)
        m_index.insert(m_files.at(i).first.toLower(), i);
}

QByteArray Package::save() const
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t *archive = buffer ? zip_open_from_source(buffer, ZIP_TRUNCATE, &error) : nullptr;
    if (!archive) {
        const QString why = zipErrorText(&error);
        zip_error_fini(&error);
        if (buffer)
            zip_source_free(buffer);
        throw Error(QStringLiteral("Не удалось собрать печатную форму: %1").arg(why));
    }
    zip_error_fini(&error);
    zip_source_keep(buffer); // read back after the archive is closed

    auto fail = [&](const QString &why) {
        zip_discard(archive);
        zip_source_free(buffer);
        return Error(QStringLiteral("Не удалось собрать печатную форму: %1").arg(why));
    };
    // The content types first, as spreadsheet programs write them.
    QList<qsizetype> order;
    for (qsizetype i = 0; i < m_files.size(); ++i)
        if (m_files.at(i).first == QLatin1String("[Content_Types].xml"))
            order.prepend(i);
        else
            order.append(i);
    for (qsizetype i : order) {
        const auto &p = m_files.at(i);
        zip_source_t *src = zip_source_buffer(archive, p.second.constData(), zip_uint64_t(p.second.size()), 0);
        const QByteArray name = p.first.toUtf8();
        const zip_int64_t index = src ? zip_file_add(archive, name.constData(), src, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (src)
                zip_source_free(src);
            throw fail(QString::fromLocal8Bit(zip_strerror(archive)));
        }
        zip_set_file_compression(archive, zip_uint64_t(index), isPicture(p.first) ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    }
    if (zip_close(archive) != 0) {
        const QString why = QString::fromLocal8Bit(zip_strerror(archive));
        zip_discard(archive);
        zip_source_free(buffer);
        throw Error(QStringLiteral("Не удалось собрать печатную форму: %1").arg(why));
    }

    QByteArray out;
    zip_stat_t st;
    bool ok = zip_source_stat(buffer, &st) == 0 && (st.valid & ZIP_STAT_SIZE) && zip_source_open(buffer) == 0;
    if (ok) {
        out.resize(qsizetype(st.size));
        ok = zip_source_read(buffer, out.data(), st.size) == zip_int64_t(st.size);
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    if (!ok)
        throw Error(QStringLiteral("Не удалось собрать печатную форму: архив не читается."));
    return out;
}

} // namespace printout
