#include "channels/ChannelListParser.h"

#include "base/SystemLog.h"

#include <QSet>

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

ChannelListBounds boundChannelList(ParsedChannelList& list, qsizetype most) {
    ChannelListBounds out;
    out.most = most;
    QSet<QString> seen;
    ParsedChannelList kept;
    kept.title = list.title;
    for (qsizetype i = 0; i < list.stations.size(); ++i) {
        const QString id = list.networks.value(i) + u'.' + list.stations.value(i) + u'.' +
                           list.locations.value(i) + u'.' + list.channels.value(i);
        // The codes cannot hold a line break, so the dotted form names one channel only when
        // joined with a separator no code holds.
        const QString key = QStringList{list.networks.value(i), list.stations.value(i),
                                        list.locations.value(i), list.channels.value(i)}
                                .join(QChar(0x1f));
        if (seen.contains(key)) {
            if (out.repeats++ == 0)
                out.firstRepeat = id;
            continue;
        }
        if (kept.stations.size() >= most) {
            ++out.cut;
            continue;
        }
        seen.insert(key);
        kept.networks << list.networks.value(i);
        kept.stations << list.stations.value(i);
        kept.channels << list.channels.value(i);
        kept.locations << list.locations.value(i);
        kept.labels << list.labels.value(i);
    }
    list = std::move(kept);
    return out;
}

QStringList ChannelListBounds::logLines() const {
    QStringList lines;
    if (repeats > 0)
        lines << QStringLiteral("The channel list names a channel again on %1 line(s) (first %2); "
                                "each channel is asked for once.")
                     .arg(repeats)
                     .arg(quotedForLog(firstRepeat));
    if (cut > 0)
        lines << QStringLiteral("The channel list holds %1 channels; the first %2 are used.")
                     .arg(cut + most)
                     .arg(most);
    return lines;
}
