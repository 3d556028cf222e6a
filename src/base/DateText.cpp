#include "base/DateText.h"

#include "base/SystemLog.h"
#include "base/Time.h"

namespace datetext {

namespace {

QString pad(std::int64_t v, int width) {
    return QStringLiteral("%1").arg(v, width, 10, QLatin1Char('0'));
}

QString dateAndTime(const civil::Fields& f, QChar separator) {
    return pad(f.year, 4) + u'-' + pad(f.month, 2) + u'-' + pad(f.day, 2) + separator +
           pad(f.hour, 2) + u':' + pad(f.minute, 2) + u':' + pad(f.second, 2);
}

// Reads `count` ASCII digits at text[pos]; false if any is missing.
bool digits(QStringView text, qsizetype pos, int count, int& out) {
    if (pos + count > text.size())
        return false;
    int v = 0;
    for (int k = 0; k < count; ++k) {
        const QChar c = text[pos + k];
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c.unicode() - u'0');
    }
    out = v;
    return true;
}

// "yyyy-MM-ddTHH:mm:ss" at the start of text, checked for calendar validity.
std::optional<Date> parseDateAndTime(QStringView text, civil::Fields& f) {
    int y, mo, d, h, mi, s;
    if (text.size() < 19 || !digits(text, 0, 4, y) || text[4] != u'-' || !digits(text, 5, 2, mo) ||
        text[7] != u'-' || !digits(text, 8, 2, d) || text[10] != u'T' || !digits(text, 11, 2, h) ||
        text[13] != u':' || !digits(text, 14, 2, mi) || text[16] != u':' || !digits(text, 17, 2, s))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > civil::daysInMonth(y, mo) || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    // Beyond these years lies no seismogram, and beyond about 1678 and 2262 no nanosecond clock.
    if (y < kFirstYear || y > kLastYear)
        return std::nullopt;
    f = {y, mo, d, h, mi, s, 0};
    return civil::dateOf(y, mo, d, h, mi, s);
}

} // namespace

Date now() {
    return std::chrono::system_clock::now();
}

QString requestTime(Date t) {
    const civil::Fields f = civil::fieldsOf(t);
    return dateAndTime(f, u'T') + u'.' + pad(f.nanosecond / 100'000, 4) + u'Z';
}

std::optional<Date> parseRequestTime(QStringView text) {
    civil::Fields f{};
    int fraction = 0;
    if (text.size() != 25 || text[19] != u'.' || !digits(text, 20, 4, fraction) || text[24] != u'Z')
        return std::nullopt;
    const auto base = parseDateAndTime(text, f);
    if (!base)
        return std::nullopt;
    return *base +
           std::chrono::duration_cast<Date::duration>(std::chrono::microseconds(fraction * 100));
}

QString urlTime(Date t) {
    return dateAndTime(civil::fieldsOf(t), u'T');
}

QString description(Date t) {
    return dateAndTime(civil::fieldsOf(t), u' ') + QStringLiteral(" +0000");
}

std::optional<Date> parseCatalogTime(QStringView text) {
    civil::Fields f{};
    auto base = parseDateAndTime(text, f);
    if (!base)
        return std::nullopt;
    qsizetype pos = 19;
    std::int64_t nanos = 0;
    if (pos < text.size() && text[pos] == u'.') {
        std::int64_t scale = 100'000'000;
        qsizetype k = pos + 1;
        for (; k < text.size() && text[k] >= u'0' && text[k] <= u'9'; ++k) {
            nanos += (text[k].unicode() - u'0') * scale;
            scale /= 10;
        }
        if (k == pos + 1)
            return std::nullopt;
        pos = k;
    }
    if (pos < text.size() && text[pos] == u'Z')
        ++pos;
    if (pos != text.size())
        return std::nullopt;
    return *base + std::chrono::duration_cast<Date::duration>(std::chrono::nanoseconds(nanos));
}

QString unreadableWindowTime(const char* which, const QString& typed) {
    return QStringLiteral("The window %1 %2 cannot be read as a time like "
                          "2012-06-15T10:00:00.0000Z (UTC, years %3 to %4); the present moment "
                          "is asked for instead.")
        .arg(QLatin1StringView(which), quotedForLog(typed))
        .arg(kFirstYear)
        .arg(kLastYear);
}

} // namespace datetext
