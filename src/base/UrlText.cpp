#include "base/UrlText.h"

namespace {

bool isAlpha(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
bool isHex(char16_t c) {
    return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
bool isUriChar(char16_t c) {
    if (isAlpha(c) || isDigit(c))
        return true;
    switch (c) {
    case u'-':
    case u'.':
    case u'_':
    case u'~': // unreserved
    case u':':
    case u'/':
    case u'?':
    case u'#':
    case u'[':
    case u']':
    case u'@': // gen-delims
    case u'!':
    case u'$':
    case u'&':
    case u'\'':
    case u'(':
    case u')':
    case u'*':
    case u'+':
    case u',':
    case u';':
    case u'=': // sub-delims
        return true;
    default:
        return false;
    }
}

} // namespace

bool isValidUrlText(QStringView text) {
    const qsizetype n = text.size();
    // scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
    qsizetype i = 0;
    if (n == 0 || !isAlpha(text[0].unicode()))
        return false;
    while (i < n && (isAlpha(text[i].unicode()) || isDigit(text[i].unicode()) || text[i] == u'+' ||
                     text[i] == u'-' || text[i] == u'.'))
        ++i;
    if (i == n || text[i] != u':')
        return false;
    // "[" and "]" belong to an IP-literal host only (RFC 3986, 3.2.2): inside the authority that
    // follows "//", up to the first "/", "?" or "#".
    qsizetype authorityEnd = i + 1;
    if (text.mid(i + 1, 2) == u"//") {
        authorityEnd = i + 3;
        while (authorityEnd < n && text[authorityEnd] != u'/' && text[authorityEnd] != u'?' &&
               text[authorityEnd] != u'#')
            ++authorityEnd;
    }
    int hashes = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'%') {
            if (i + 2 >= n || !isHex(text[i + 1].unicode()) || !isHex(text[i + 2].unicode()))
                return false;
            i += 2;
        } else if (!isUriChar(c)) {
            return false;
        } else if ((c == u'[' || c == u']') && i >= authorityEnd) {
            return false;
        } else if (c == u'#' && ++hashes > 1) {
            return false;
        }
    }
    return true;
}

QString baseAddress(QString typed) {
    typed = typed.trimmed();
    while (typed.endsWith(u'/'))
        typed.chop(1);
    return typed;
}

bool isPlainServiceBase(QStringView typed) {
    const QString text = baseAddress(typed.toString());
    qsizetype i;
    if (text.startsWith(u"http://"))
        i = 7;
    else if (text.startsWith(u"https://"))
        i = 8;
    else
        return false;
    const qsizetype n = text.size();
    // Host.
    const qsizetype hostStart = i;
    if (i < n && text[i] == u'[') {
        while (i < n && text[i] != u']') {
            const char16_t c = text[i].unicode();
            if (!(isHex(c) || c == u':' || c == u'.' || c == u'['))
                return false;
            ++i;
        }
        if (i == n)
            return false;
        ++i;
    } else {
        while (i < n && (isAlpha(text[i].unicode()) || isDigit(text[i].unicode()) ||
                         text[i] == u'.' || text[i] == u'-'))
            ++i;
    }
    if (i == hostStart)
        return false;
    // Port.
    if (i < n && text[i] == u':') {
        const qsizetype portStart = ++i;
        while (i < n && isDigit(text[i].unicode()))
            ++i;
        if (i == portStart || i - portStart > 5 || text.mid(portStart, i - portStart).toInt() > 65535)
            return false;
    }
    // Path: plain segments only.
    if (i < n && text[i] != u'/')
        return false;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (!(isAlpha(c) || isDigit(c) || c == u'/' || c == u'-' || c == u'.' || c == u'_' ||
              c == u'~'))
            return false;
    }
    return true;
}
