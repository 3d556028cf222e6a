#pragma once

#include <QString>
#include <QStringView>

// A strict RFC 3986 check of an assembled address: a scheme, then only characters that may
// stand in a URI (unreserved, reserved, and "%" with two hex digits). A blank, a non-ASCII
// character, a quote or a brace makes it no URL.
bool isValidUrlText(QStringView text);

// A service's base address as typed, without trailing slashes, ready for a path to be appended.
QString baseAddress(QString typed);

// A service's base address as a person may type it: http or https, a host (a name, an IPv4
// address or a bracketed IPv6 one), an optional port and an optional path of plain segments;
// no user, query, fragment, comma or blank. Trailing slashes are allowed.
bool isPlainServiceBase(QStringView typed);
