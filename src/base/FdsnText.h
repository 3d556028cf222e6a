#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The FDSN web services' text format: one record per line, fields separated by "|" and trimmed;
// the first line that starts with "#" names the columns, later ones are comments; blank lines
// and carriage returns are ignored.
struct FdsnTextTable {
    bool hasHeader = false;
    QHash<QString, int> columns; // lower-case column name -> position
    QList<QStringList> rows;

    // The position of a column, or -1.
    int column(const QString& lowerCaseName) const { return columns.value(lowerCaseName, -1); }
    // The field of a row at a position, or an empty text when the row is short.
    static QString field(const QStringList& row, int position) {
        return position >= 0 && position < row.size() ? row[position] : QString();
    }
};

FdsnTextTable readFdsnText(QByteArrayView body);
