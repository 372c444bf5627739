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
    RefListWindow(const RefBookKind &kind, QWidget *parent);
    const RefBookKind &kind() const { return m_kind; }

private:
    const RefBookKind &m_kind;
};

class RefEditWindow : public ModalWindow
{
    Q_OBJECT
public:
    RefEditWindow(const RefBookKind &kind, QWidget *parent);
    const RefBookKind &kind() const { return m_kind; }

private:
    const RefBookKind &m_kind;
};

class TPF : public RefListWindow
{
    Q_OBJECT
public:
    explicit TPF(QWidget *parent) : RefListWindow(postsKind(), parent) {}
};
class TDF : public RefListWindow
{
    Q_OBJECT
public:
    explicit TDF(QWidget *parent) : RefListWindow(departmentsKind(), parent) {}
};
class TGF : public RefListWindow
{
    Q_OBJECT
public:
    explicit TGF(QWidget *parent) : RefListWindow(organizationsKind(), parent) {}
};
class TPF1 : public RefEditWindow
{
    Q_OBJECT
public:
    explicit TPF1(QWidget *parent) : RefEditWindow(postsKind(), parent) {}
};
class TDF1 : public RefEditWindow
{
    Q_OBJECT
public:
    explicit TDF1(QWidget *parent) : RefEditWindow(departmentsKind(), parent) {}
};
class TGF1 : public RefEditWindow
{
    Q_OBJECT
public:
    explicit TGF1(QWidget *parent) : RefEditWindow(organizationsKind(), parent) {}
};
