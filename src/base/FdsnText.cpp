#include "base/FdsnText.h"

FdsnTextTable readFdsnText(QByteArrayView body) {
    FdsnTextTable table;
    const QString text = QString::fromUtf8(body);
    for (QStringView line : QStringView(text).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        QStringList fields;
        for (QStringView f : line.split(u'|'))
            fields << f.trimmed().toString();
        if (line.startsWith(u'#')) {
            if (!table.hasHeader) {
                table.hasHeader = true;
                fields[0] = fields[0].mid(1).trimmed();
                for (qsizetype c = 0; c < fields.size(); ++c)
                    table.columns.insert(fields[c].toLower(), static_cast<int>(c));
            }
            continue;
        }
        table.rows << fields;
    }
    return table;
}
