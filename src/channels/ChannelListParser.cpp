#include "channels/ChannelListParser.h"

bool isChannelListFieldSpace(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

bool isChannelListLineSpace(QChar c) {
    switch (c.unicode()) {
    case u'\n':
    case u'\r':
    case u'\v':
    case u'\f':
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return isChannelListFieldSpace(c);
    }
}

namespace {

QString trimmedField(QStringView field) {
    qsizetype b = 0, e = field.size();
    while (b < e && isChannelListFieldSpace(field[b]))
        ++b;
    while (e > b && isChannelListFieldSpace(field[e - 1]))
        --e;
    return field.mid(b, e - b).toString();
}

} // namespace

ParsedChannelList parseChannelListText(QStringView text) {
    ParsedChannelList out;
    const qsizetype n = text.size();
    qsizetype pos = 0;
    while (true) {
        while (pos < n && isChannelListLineSpace(text[pos]))
            ++pos;
        if (pos >= n)
            break;
        qsizetype end = text.indexOf(u'\n', pos);
        if (end < 0)
            end = n;
        const QList<QStringView> fields = text.mid(pos, end - pos).split(u';');
        // "Title" alone, without a ";", has no title to give and is passed over.
        if (fields.size() >= 2 && fields[0] == u"Title")
            out.title = fields[1].toString();
        if (fields.size() == 5) {
            out.networks << trimmedField(fields[0]);
            out.stations << trimmedField(fields[1]);
            out.channels << trimmedField(fields[2]);
            out.locations << trimmedField(fields[3]);
            out.labels << trimmedField(fields[4]);
        }
        pos = end + 1;
    }
    return out;
}
