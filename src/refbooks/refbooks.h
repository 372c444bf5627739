#pragma once
// The three reference books (posts, departments, organizations): one list
// window and one value editor, each written once and configured three times.

#include "app/modalwindow.h"

struct RefBookKind
{
    const char *table;   // post, department, organization
    const char *column;  // post, dep, org
    QString caption;     // of the list window
    QString label;       // group caption above the search box
    QString header;      // of the value column
};

const RefBookKind &postsKind();
const RefBookKind &departmentsKind();
const RefBookKind &organizationsKind();

class RefListWindow : public ModalWindow
{
    Q_OBJECT
public:
    RefListWindow(const RefBookKind &kind, Context &context, QWidget *parent);
    const RefBookKind &kind() const { return m_kind; }

private:
    const RefBookKind &m_kind;
};

class RefEditWindow : public ModalWindow
{
    Q_OBJECT
public:
    RefEditWindow(const RefBookKind &kind, Context &context, QWidget *parent);
    const RefBookKind &kind() const { return m_kind; }

signals:
    // A value was stored: the card's drop-down lists are filled again.
    void valueSaved();

private:
    const RefBookKind &m_kind;
};

class TPF : public RefListWindow
{
    Q_OBJECT
public:
    TPF(Context &context, QWidget *parent) : RefListWindow(postsKind(), context, parent) {}
};
class TDF : public RefListWindow
{
    Q_OBJECT
public:
    TDF(Context &context, QWidget *parent) : RefListWindow(departmentsKind(), context, parent) {}
};
class TGF : public RefListWindow
{
    Q_OBJECT
public:
    TGF(Context &context, QWidget *parent) : RefListWindow(organizationsKind(), context, parent) {}
};
class TPF1 : public RefEditWindow
{
    Q_OBJECT
public:
    TPF1(Context &context, QWidget *parent) : RefEditWindow(postsKind(), context, parent) {}
};
class TDF1 : public RefEditWindow
{
    Q_OBJECT
public:
    TDF1(Context &context, QWidget *parent) : RefEditWindow(departmentsKind(), context, parent) {}
};
class TGF1 : public RefEditWindow
{
    Q_OBJECT
public:
    TGF1(Context &context, QWidget *parent) : RefEditWindow(organizationsKind(), context, parent) {}
};
