#pragma once
// The contact list's rows, kept as compact copies of their seven cells
// (CP1251 bytes), so that a million cards fit in memory and the grid only
// decodes the cells it draws.

#include "arena.h"

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace db {
class IBQuery;
}

class ListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int kColumns = 7;
    using QAbstractTableModel::QAbstractTableModel;

    // The columns a row is made of, as stored (CP1251 bytes, empty for NULL):
    // fam, name1, name2, work, dep, post, bdate, wtel, wmail.
    using Columns = std::array<std::string_view, 9>;
    // Appends a card's row in the form the model keeps it: its seven cells.
    static void encodeRow(std::vector<char> &out, std::string_view id, const Columns &columns);
    // The bytes of a row in that form that starts at `row`.
    static size_t encodedSize(const char *row);

    // Replaces the rows with every row the query holds (fetched so far).
    void fill(const db::IBQuery &q);
    // Replaces the rows with the first `count` of rows already in the
    // model's form (all of them by default).
    void fillEncoded(const std::vector<const char *> &rows, size_t count = SIZE_MAX);
    // Adds such rows from `from` on.
    void appendEncoded(const std::vector<const char *> &rows, size_t from);
    // Adds every row the query holds after the model's rows; the reader then
    // lets go of them (IBQuery::dropFetched), so that a long list is never
    // held twice.
    void append(const db::IBQuery &q);
    int cardCount() const { return int(m_row.size()); }

    // The record id of a row (column 0), empty for the empty row.
    QString id(int row) const { return cell(row, 0); }
    QString cell(int row, int col) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    static const QString &header(int col);

private:
    void appendRows(const db::IBQuery &q, int from, int to);
    void copyEncoded(const std::vector<const char *> &rows, size_t from, size_t to);

    void clearRows();
    core::Arena m_data; // per row: seven cells of [u16 length][bytes]
    std::vector<uint32_t> m_row;
    std::vector<char> m_scratch;
};
