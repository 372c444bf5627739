#pragma once
// A list read into the model the way the main window shows it: the first
// screen of rows at once, the rest in slices (from the statement) or in one
// piece (from the search index), and a fill cut short by a failed read told
// as such, with the rows that arrived kept.

#include <QString>
#include <QtGlobal>
#include <vector>

namespace db {
class IBQuery;
}

class ListModel;

namespace core {

class ListFetch
{
public:
    static constexpr int kFirstRows = 500;

    explicit ListFetch(ListModel &model) : m_model(model) {}

    // A fill from the open statement `q`: its first rows are read at once.
    void begin(db::IBQuery &q);
    // A fill from the search index's rows, which stay valid while the index
    // is at `version`. A statement's fill under way is replaced.
    // `more`: the index has further rows to give after these (see extend).
    void begin(std::vector<const char *> rows, quint64 version, bool more = false);
    // The index's further rows, after those it gave first.
    void extend(const std::vector<const char *> &more);
    bool wantsRest() const { return m_wantsRest; }
    // Puts the first rows into the model, in place of what it held.
    void showFirst();
    // Rows are still to come after those in the model.
    bool pending() const { return m_pending; }

    // Reads the statement's rows on for about `budgetMs` into the model
    // (short: the event loop may run two slices before it looks at input);
    // false when every row is in. A failed read, or a statement closed
    // meanwhile (the connection was opened anew), throws a DbError that says
    // the list is cut and how many rows arrived; those stay in the model.
    bool next(int budgetMs = 15);
    // Everything still to come, at once. False when the index changed since
    // its rows were taken: they are dropped, and the list must be searched again.
    bool finish(quint64 indexVersion);
    // Ends the fill; the statement is closed once the model holds every row.
    void end();

    // The words added to an error that cut the list, `loaded` rows shown.
    static QString cutText(int loaded);

private:
    ListModel &m_model;
    db::IBQuery *m_query = nullptr;
    std::vector<const char *> m_rows; // the index's rows, while some are still to show
    quint64 m_version = 0;
    bool m_pending = false;
    bool m_wantsRest = false;
};

} // namespace core
