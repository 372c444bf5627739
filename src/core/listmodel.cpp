#include "listmodel.h"

#include "db/cp1251.h"
#include "db/ibase.h"

#include <QStringList>
#include <charconv>
#include <cstring>

const QString &ListModel::header(int col)
{
    static const QStringList h = {
        QStringLiteral(" ID "),         QStringLiteral(" Имя "),           QStringLiteral(" Место работы "),
        QStringLiteral(" Должность "),  QStringLiteral(" Дата рождения "), QStringLiteral(" Телефон (р.) "),
        QStringLiteral(" e-mail (р.)"),
    };
    return h.at(col);
}

namespace {

// Appends the CP1251 bytes of a cell: text as it is, an integer as its digits.
void appendCell(std::vector<char> &buf, const db::IBQuery &q, int row, int col,
                const std::vector<db::IBQuery::CellView> &cells)
{
    if (col < 0)
        return;
    const db::IBQuery::CellView &c = cells[size_t(col)];
    if (c.kind == 1) {
        buf.insert(buf.end(), c.data, c.data + c.length);
    } else if (c.kind == 2) {
        qint64 v;
        std::memcpy(&v, c.data, 8);
        char digits[24];
        const auto res = std::to_chars(digits, digits + sizeof digits, v);
        buf.insert(buf.end(), digits, res.ptr);
    } else if (c.kind == 3) { // a note: rare in the list's columns, read as text
        QByteArray b;
        cp1251::encode(q.textAt(row, col), b);
        buf.insert(buf.end(), b.begin(), b.end());
    }
}

} // namespace

void ListModel::encodeRow(std::vector<char> &out, std::string_view id, const Columns &c)
{
    auto cell = [&out](std::initializer_list<std::string_view> parts) {
        size_t len = parts.size() - 1; // the blanks are written even between empty parts
        for (std::string_view p : parts)
            len += p.size();
        const auto len16 = uint16_t(std::min<size_t>(len, 0xFFFF));
        const char *lp = reinterpret_cast<const char *>(&len16);
        out.insert(out.end(), lp, lp + 2);
        size_t left = len16;
        bool first = true;
        for (std::string_view p : parts) {
            if (!first && left) {
                out.push_back(' ');
                --left;
            }
            first = false;
            const size_t n = std::min(left, p.size());
            out.insert(out.end(), p.data(), p.data() + n);
            left -= n;
        }
    };
    cell({id});
    cell({c[0], c[1], c[2]});
    cell({c[3], c[4]});
    cell({c[5]});
    cell({c[6]});
    cell({c[7]});
    cell({c[8]});
}

size_t ListModel::encodedSize(const char *row)
{
    const char *p = row;
    for (int i = 0; i < kColumns; ++i) {
        uint16_t len;
        std::memcpy(&len, p, 2);
        p += 2 + len;
    }
    return size_t(p - row);
}

void ListModel::fillEncoded(const std::vector<const char *> &rows, size_t count)
{
    beginResetModel();
    clearRows();
    copyEncoded(rows, 0, std::min(count, rows.size()));
    endResetModel();
}

void ListModel::appendEncoded(const std::vector<const char *> &rows, size_t from)
{
    if (from >= rows.size())
        return;
    beginInsertRows({}, cardCount(), cardCount() + int(rows.size() - from) - 1);
    copyEncoded(rows, from, rows.size());
    endInsertRows();
}

void ListModel::copyEncoded(const std::vector<const char *> &rows, size_t from, size_t to)
{
    m_row.reserve(m_row.size() + (to - from));
    for (size_t i = from; i < to; ++i)
        m_row.push_back(m_data.append(rows[i], encodedSize(rows[i])));
}

void ListModel::clearRows()
{
    m_data.clear();
    m_row.clear();
    m_row.shrink_to_fit(); // a short list after a long one lets the long one go
}

void ListModel::fill(const db::IBQuery &q)
{
    beginResetModel();
    clearRows();
    appendRows(q, 0, q.recordCount());
    endResetModel();
}

void ListModel::append(const db::IBQuery &q)
{
    const int from = cardCount();
    const int count = q.recordCount();
    if (count == 0)
        return;
    if (from == 0) { // the empty row becomes a card
        fill(q);
        return;
    }
    beginInsertRows(QModelIndex(), from, from + count - 1);
    appendRows(q, 0, count);
    endInsertRows();
}

void ListModel::appendRows(const db::IBQuery &q, int from, int to)
{
    const int id = q.fieldIndex(QStringLiteral("pk_id"));
    const int cols[9] = {q.fieldIndex(QStringLiteral("fam")),   q.fieldIndex(QStringLiteral("name1")),
                         q.fieldIndex(QStringLiteral("name2")), q.fieldIndex(QStringLiteral("work")),
                         q.fieldIndex(QStringLiteral("dep")),   q.fieldIndex(QStringLiteral("post")),
                         q.fieldIndex(QStringLiteral("bdate")), q.fieldIndex(QStringLiteral("wtel")),
                         q.fieldIndex(QStringLiteral("wmail"))};
    std::vector<char> parts[10];
    std::vector<db::IBQuery::CellView> cells;
    for (int r = from; r < to; ++r) {
        q.rowView(r, cells);
        auto text = [&](std::vector<char> &buf, int col) {
            buf.clear();
            appendCell(buf, q, r, col, cells);
            return std::string_view(buf.data(), buf.size());
        };
        Columns c;
        for (int i = 0; i < 9; ++i)
            c[size_t(i)] = text(parts[i], cols[i]);
        m_scratch.clear();
        encodeRow(m_scratch, text(parts[9], id), c);
        m_row.push_back(m_data.append(m_scratch.data(), m_scratch.size()));
    }
}

QString ListModel::cell(int row, int col) const
{
    if (row < 0 || size_t(row) >= m_row.size() || col < 0 || col >= kColumns)
        return QString();
    const char *p = m_data.at(m_row[size_t(row)]);
    for (int i = 0;; ++i) {
        uint16_t len;
        std::memcpy(&len, p, 2);
        if (i == col)
            return cp1251::decode(p + 2, len);
        p += 2 + len;
    }
}

int ListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : std::max(1, cardCount());
}

int ListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant ListModel::data(const QModelIndex &index, int role) const
{
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole || role == Qt::ToolTipRole)
        return cell(index.row(), index.column());
    return QVariant();
}

QVariant ListModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) && section >= 0 &&
        section < kColumns)
        return header(section);
    return QVariant();
}
