#pragma once

#include <QString>
#include <QStringView>

// How the original desktop framework reads a number out of a text: leading blanks skipped, an
// optional sign, the longest leading number taken, 0 when there is none; never localised
// ('.' is the decimal point whatever the locale). intValue("7.9") is 7, floatValue("1e3") is
// 1000, intValue clamps to the int range and floatValue overflows to infinity.
int intValue(QStringView text);
float floatValue(QStringView text);

// printf's "%<width>.<precision>f" (correctly rounded, right-aligned in width), but never
// localised, unlike printf under a user's LC_NUMERIC.
QString printfFixed(double value, int precision, int width = 0);
