#pragma once
// The filter of an addressbook-query (RFC 6352 §10.5), read from the request
// and tried on a card's vCard text. Any property and parameter can be
// filtered; a structured value (N, ORG, ADR) matches as a whole or by any
// one of its components, so "equals Petrov" finds N:Petrov;Ivan;;;.

#include "davxml.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace dav {

struct TextMatch
{
    enum Type { Equals, Contains, StartsWith, EndsWith };
    enum Collation { Octet, AsciiCasemap, UnicodeCasemap };
    QString text; // already folded as the collation compares
    Type type = Contains;
    Collation collation = UnicodeCasemap;
    bool negate = false;
};

struct ParamFilter
{
    QString name; // upper case
    bool isNotDefined = false;
    QList<TextMatch> matches; // at most one by the RFC; all must hold
};

struct PropFilter
{
    QString name; // upper case
    bool allOf = false;
    bool isNotDefined = false;
    QList<TextMatch> matches;
    QList<ParamFilter> params;
};

struct Filter
{
    bool allOf = false;
    QList<PropFilter> props; // none: every card

    // Read from <card:filter>. False when it asks what the server cannot
    // do: `precondition` is then the CardDAV element naming it for a 403
    // (supported-collation, supported-filter).
    bool read(const Element &filter, QString *precondition);
    bool matches(const QByteArray &vcard) const;
};

} // namespace dav
