#pragma once
// The pieces every method's answer is made of, and the request's parts
// several methods read: its XML body, its preconditions, the vCard version
// it asks for.

#include "book.h"
#include "davtypes.h"
#include "davxml.h"

#include <optional>

namespace dav {

// A short text body (errors a person may read in a browser).
Response plainReply(int status, const QString &text, const QString &note = {});
// `status` with <d:error> holding the precondition element `name` of `ns`.
Response errorReply(int status, const QString &ns, const QString &name, const QString &note,
                    const std::function<void(QXmlStreamWriter &)> &inner = {});
// 403 need-privileges (RFC 3744 §7.1.1): `privilege` lacking on `href`.
Response needPrivileges(const QString &href, const QString &privilege);
// 207 with a multistatus written by `step` as the glue sends it.
Response multistatusReply(std::function<bool(QXmlStreamWriter &)> step);

// The request's XML body read into `root`; false with `refusal` (400) set
// when it is empty, not well formed or has a DOCTYPE.
bool readBody(const Request &request, Element &root, Response &refusal);

// If-Match and If-None-Match.
Conditions conditionsOf(const Headers &headers);

// The vCard version an Accept header prefers: 4.0 only when it ranks
// text/vcard;version=4.0 above every range that 3.0 fits.
Version versionFromAccept(const QByteArray &accept);
// The version of a report's <card:address-data> (its version attribute, else
// the Accept header); none when it asks a type or version the server does not write.
std::optional<Version> versionOfAddressData(const Element *addressData, const QByteArray &accept);

} // namespace dav
