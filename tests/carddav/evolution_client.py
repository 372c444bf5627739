#!/usr/bin/python3
"""Evolution's own CardDAV client (evolution-data-server's "carddav" backend),
driven without a screen for run_evolution.sh.

It runs on a session bus of its own (dbus-run-session), where the bus starts
evolution-source-registry and evolution-addressbook-factory on first use, the
way they start under a desktop; only the prompts a desktop would show are
answered here: the device password when the backend asks for it, and the
test's self-signed certificate, trusted beforehand in the address book's
settings just as the answer "Accept permanently" stores it.

Commands come one a line on file descriptor 3, their fields separated by
tabs; each gets one line of answer on file descriptor 4: "ok" and fields, or
"error", what failed and the message. (The bus hands its own standard output
to the services it starts, so these two are kept apart from it.)

    discover URL            the address books found from the server's address
                            -> ok COUNT HREF NAME (the first one)
    open URL                an address book added for that collection and
                            connected (its first sync goes on afterwards) -> ok
    list FILE COUNT         once the client holds COUNT contacts (or the time
                            is up), their names "family;given;additional",
                            one a line, to FILE -> ok COUNT
    add FAMILY GIVEN PHONE  a new contact with a mobile phone -> ok UID
    hold UID                the contact as the client holds it now, kept for
                            modify -> ok ETAG
    modify PROP=VALUE...    the held contact changed (EContact property names)
                            and saved; a change made on the server since it
                            was read must fail it -> ok
    remove UID              the contact removed -> ok
    await UID PROP VALUE    a refresh asked for, then the contact awaited
                            until PROP has VALUE -> ok
    quit

Every wait is bounded, and all of them together by the time given on the
command line: a backend that hangs ends in an "error timeout" answer.
"""

import argparse
import os
import sys
import time

import gi

for _namespace in ("EDataServer", "EBook", "EBookContacts"):
    gi.require_version(_namespace, "1.2")
from gi.repository import EBook, EBookContacts, EDataServer, Gio, GLib  # noqa: E402

WEBDAV_ETAG = "X-EVOLUTION-WEBDAV-ETAG"  # where the backend keeps a card's ETag


class Timeout(Exception):
    pass


class Driver:
    def __init__(self, user, password, cert_file, seconds):
        self.user = user
        self.password = password
        self.cert = Gio.TlsCertificate.new_from_file(cert_file)
        self.end = time.monotonic() + seconds
        self.context = GLib.MainContext.default()
        self.registry = None
        self.source = None
        self.client = None
        self.held = None
        self.logins = 0
        self.last_reason = ""

    # ------------------------------------------------------------ waiting

    def spin(self, done, seconds):
        """Runs the main loop until done() or the time is up."""
        end = min(time.monotonic() + seconds, self.end)
        while not done():
            if time.monotonic() >= end:
                return False
            if not self.context.iteration(False):
                time.sleep(0.01)
        return True

    def call(self, start, finish, seconds=60):
        """An asynchronous call, awaited: start(cancellable, callback),
        finish(result) -> its value."""
        box = {}
        cancellable = Gio.Cancellable()

        def ready(_object, result, *_):
            try:
                box["value"] = finish(result)
            except GLib.Error as e:
                box["error"] = e

        start(cancellable, ready)
        if not self.spin(lambda: box, seconds):
            cancellable.cancel()
            raise Timeout()
        if "error" in box:
            raise box["error"]
        return box["value"]

    # ------------------------------------------------------------ sources

    def settings(self, source, url):
        """The server, the login and the trusted certificate of an address book."""
        uri = GLib.Uri.parse(url, GLib.UriFlags.NONE)
        auth = source.get_extension(EDataServer.SOURCE_EXTENSION_AUTHENTICATION)
        auth.set_host(uri.get_host())
        auth.set_port(uri.get_port())
        auth.set_user(self.user)
        auth.set_method("plain/password")
        webdav = source.get_extension(EDataServer.SOURCE_EXTENSION_WEBDAV_BACKEND)
        webdav.set_uri(uri)
        webdav.update_ssl_trust(uri.get_host(), self.cert, EDataServer.TrustPromptResponse.ACCEPT)

    def credentials(self):
        p = EDataServer.NamedParameters.new()
        p.set(EDataServer.SOURCE_CREDENTIAL_USERNAME, self.user)
        p.set(EDataServer.SOURCE_CREDENTIAL_PASSWORD, self.password)
        return p

    def on_credentials_required(self, source, reason, _pem, errors, op_error):
        """What a desktop's password prompt does: the password, given back.
        A certificate the trust did not cover, or a password refused three
        times, is left unanswered: the backend then fails the request."""
        R = EDataServer.SourceCredentialsReason
        self.last_reason = "%s %s %s" % (
            reason.value_nick, int(errors), op_error.message if op_error else ""
        )
        if reason in (R.REQUIRED, R.REJECTED) and self.logins < 3:
            self.logins += 1
            source.invoke_authenticate(self.credentials(), None, None, None)

    def discover(self, url):
        # As Evolution's "Find Address Books" does: from the address a user types.
        probe = EDataServer.Source.new(None, None)
        self.settings(probe, url)
        found = self.call(
            lambda c, r: EDataServer.webdav_discover_sources(
                probe, None, int(EDataServer.WebDAVDiscoverSupports.CONTACTS), self.credentials(), c, r
            ),
            lambda r: EDataServer.webdav_discover_sources_finish(probe, r),
        )
        books = [
            s for s in found[3] if s.supports & int(EDataServer.WebDAVDiscoverSupports.CONTACTS)
        ]
        if not books:
            return ["0", "", ""]
        return [str(len(books)), books[0].href, books[0].display_name or ""]

    def open(self, url):
        self.registry = EDataServer.SourceRegistry.new_sync(None)
        source = EDataServer.Source.new(None, None)
        source.set_parent("webdav-stub")  # where Evolution puts a CardDAV book it is given
        source.set_display_name("Zentrax")
        book = source.get_extension(EDataServer.SOURCE_EXTENSION_ADDRESS_BOOK)
        book.set_backend_name("carddav")
        self.settings(source, url)
        self.registry.create_sources_sync([source], None)
        uid = source.get_uid()
        if not self.spin(lambda: self.registry.ref_source(uid) is not None, 20):
            raise Timeout()
        self.source = self.registry.ref_source(uid)
        self.source.connect("credentials-required", self.on_credentials_required)
        self.client = self.call(
            lambda c, r: EBook.BookClient.connect(self.source, 60, c, r),
            EBook.BookClient.connect_finish,
            90,
        )
        return []

    # ------------------------------------------------------------ contacts

    def contacts(self):
        return self.call(
            lambda c, r: self.client.get_contacts("", c, r),
            lambda r: self.client.get_contacts_finish(r)[1],
        )

    def contact(self, uid):
        return self.call(
            lambda c, r: self.client.get_contact(uid, c, r),
            lambda r: self.client.get_contact_finish(r)[1],
        )

    def list(self, path, count):
        # The first sync runs in the background after the book opens, and the
        # client cannot see when it ends: the contacts are read until there
        # are as many as the database holds, or the time is up.
        want = int(count)
        contacts = self.contacts()
        end = time.monotonic() + 60
        while len(contacts) != want and time.monotonic() < end:
            self.spin(lambda: False, 0.5)
            contacts = self.contacts()
        names = []
        for contact in contacts:
            n = contact.get_property("name")
            parts = (n.family, n.given, n.additional) if n else ("", "", "")
            names.append(";".join(p or "" for p in parts))
        with open(path, "w", encoding="utf-8") as f:
            f.writelines(name + "\n" for name in sorted(names))
        return [str(len(contacts))]

    def add(self, family, given, phone):
        card = (
            "BEGIN:VCARD\r\nVERSION:3.0\r\n"
            "N:%s;%s;;;\r\nFN:%s %s\r\nTEL;TYPE=CELL:%s\r\nEND:VCARD\r\n" % (family, given, given, family, phone)
        )
        contact = EBookContacts.Contact.new_from_vcard(card)
        uid = self.call(
            lambda c, r: self.client.add_contact(contact, EBookContacts.BookOperationFlags.NONE, c, r),
            lambda r: self.client.add_contact_finish(r)[1],
        )
        return [uid]

    def hold(self, uid):
        self.held = self.contact(uid)
        etag = self.held.get_attribute(WEBDAV_ETAG)
        return [etag.get_value() if etag else ""]

    def modify(self, *changes):
        contact = self.held
        if contact is None:
            raise RuntimeError("no contact was read to change")
        self.held = None
        for change in changes:
            name, _, value = change.partition("=")
            contact.set_property(name, value)
            if name == "family-name":  # the editor keeps the shown name in step
                n = contact.get_property("name")
                contact.set_property("full-name", " ".join(p for p in (n.given, n.family) if p))
        # Fail on a conflict: the card's ETag as read goes along, and a card
        # changed on the server since must be refused, not overwritten.
        self.call(
            lambda c, r: self.client.modify_contact(contact, EBookContacts.BookOperationFlags.CONFLICT_FAIL, c, r),
            self.client.modify_contact_finish,
        )
        return []

    def remove(self, uid):
        self.call(
            lambda c, r: self.client.remove_contact_by_uid(uid, EBookContacts.BookOperationFlags.CONFLICT_FAIL, c, r),
            self.client.remove_contact_by_uid_finish,
        )
        return []

    def await_(self, uid, prop, value):
        self.call(lambda c, r: self.client.refresh(c, r), self.client.refresh_finish)
        end = time.monotonic() + 60
        seen = self.contact(uid).get_property(prop)
        while seen != value and time.monotonic() < end:
            self.spin(lambda: False, 0.5)
            seen = self.contact(uid).get_property(prop)
        if seen != value:
            raise Timeout("%s is still %r" % (prop, seen))
        return []


def describe(error):
    """An error as "domain:code message", the code by its name where known."""
    if isinstance(error, Timeout):
        return "timeout %s (last credentials request: %s)" % (error, driver.last_reason or "none")
    if isinstance(error, GLib.Error):
        code = str(error.code)
        if error.domain == GLib.quark_to_string(EDataServer.Client.error_quark()):
            code = EDataServer.ClientError(error.code).value_nick
        return "%s:%s %s" % (error.domain, code, error.message)
    return "%s %s" % (type(error).__name__, error)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--user", required=True)
    parser.add_argument("--cert", required=True, help="the server's certificate (PEM), to trust")
    parser.add_argument("--seconds", type=float, default=110, help="for all the waits together")
    args = parser.parse_args()
    # The password comes in the environment, not on the command line others can read.
    driver = Driver(args.user, os.environ["ZENTRAX_DEVICE_PASSWORD"], args.cert, args.seconds)
    commands = os.fdopen(3, "r", encoding="utf-8")
    answers = os.fdopen(4, "w", encoding="utf-8")
    actions = {
        "discover": driver.discover,
        "open": driver.open,
        "list": driver.list,
        "add": driver.add,
        "hold": driver.hold,
        "modify": driver.modify,
        "remove": driver.remove,
        "await": driver.await_,
    }
    for line in commands:
        fields = line.rstrip("\n").split("\t")
        if fields[0] == "quit":
            answers.write("ok\n")
            answers.flush()
            break
        try:
            if driver.client is None and fields[0] not in ("discover", "open"):
                raise RuntimeError("the address book is not open")
            answer = ["ok"] + actions[fields[0]](*fields[1:])
        except Exception as e:  # every failure is an answer; the script judges it
            answer = ["error", describe(e)]
        answers.write("\t".join(a.replace("\t", " ").replace("\n", " ") for a in answer) + "\n")
        answers.flush()
    sys.exit(0)
