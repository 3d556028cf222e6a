#include "base/NumberReading.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <limits>
#include <string>

namespace {

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

int intValue(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i].isSpace()) // blanks and line breaks
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    long long value = 0;
    bool overflow = false;
    for (; i < n && isDigit(text[i]); ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            overflow = true;
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative)
        return overflow || value > INT_MAX ? INT_MIN : static_cast<int>(-value);
    return overflow || value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

float floatValue(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    std::string number;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            number += '-';
        ++i;
    }
    const std::size_t signLength = number.size();
    qsizetype digits = 0;
    for (; i < n && isDigit(text[i]); ++i, ++digits)
        number += static_cast<char>(text[i].unicode());
    if (i < n && text[i] == u'.') {
        number += '.';
        for (++i; i < n && isDigit(text[i]); ++i, ++digits)
            number += static_cast<char>(text[i].unicode());
    }
    if (digits == 0)
        return 0.0f;
    // An exponent counts only when digits follow it ("1e" reads as 1).
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        std::string exponent = "e";
        if (j < n && (text[j] == u'+' || text[j] == u'-'))
            exponent += static_cast<char>(text[j++].unicode());
        const qsizetype expStart = j;
        for (; j < n && isDigit(text[j]); ++j)
            exponent += static_cast<char>(text[j].unicode());
        if (j > expStart)
            number += exponent;
    }

    float value = 0.0f;
    const char* first = number.data();
    const char* last = number.data() + number.size();
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc::result_out_of_range) {
        // Overflow or underflow? Ask double; past its range too, the exponent's sign decides.
        double wide = 0;
        bool overflow;
        if (std::from_chars(first, last, wide).ec == std::errc())
            overflow = std::fabs(wide) > 1.0;
        else
            overflow = number.find("e-") == std::string::npos;
        value = overflow ? std::numeric_limits<float>::infinity() : 0.0f;
        return signLength > 0 ? -value : value;
    }
    (void)ptr;
    return value;
}

QString printfFixed(double value, int precision, int width) {
    char buffer[512];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    QString text =
        ec == std::errc() ? QString::fromLatin1(buffer, end - buffer) : QStringLiteral("inf");
    if (std::isnan(value))
        text = QStringLiteral("nan");
    else if (std::isinf(value))
        text = value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    return text.rightJustified(width, u' ');
}
