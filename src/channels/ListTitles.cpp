#include "channels/ListTitles.h"

#include "base/AsciiFile.h"
#include "base/SystemLog.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <filesystem>

namespace {

// Case-insensitive, with each run of digits compared by its value; independent of the locale
// (a collator under the C locale knows no numbers).
int naturalCompare(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            // Leading zeros do not make a number larger.
            qsizetype si = i, sj = j;
            while (si + 1 < ei && a[si] == u'0')
                ++si;
            while (sj + 1 < ej && b[sj] == u'0')
                ++sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj ? -1 : 1;
            if (const int c =
                    QStringView(a).sliced(si, ei - si).compare(QStringView(b).sliced(sj, ej - sj));
                c != 0)
                return c;
            i = ei;
            j = ej;
            continue;
        }
        const QChar x = a[i].toCaseFolded(), y = b[j].toCaseFolded();
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    return (a.size() - i > 0) - (b.size() - j > 0);
}

} // namespace

QStringList sortedListTitles(QStringList titles) {
    // Titles equal but for case still get one order, the same on every run.
    std::sort(titles.begin(), titles.end(), [](const QString& a, const QString& b) {
        const int order = naturalCompare(a, b);
        return order != 0 ? order < 0 : a < b;
    });
    titles.erase(std::unique(titles.begin(), titles.end()), titles.end());
    return titles;
}

QString listTitleOf(const QString& fileName) {
    return fileName.endsWith(QStringLiteral(".txt")) ? fileName.chopped(4) : fileName;
}

QStringList savedListTitles(const QString& folder) {
    namespace fs = std::filesystem;
    if (folder.isEmpty())
        return {};
    const fs::path root = folder.toStdString();
    std::error_code ec;
    if (!fs::exists(root, ec))
        return {};
    // A list below is found by its title with the same rule as one at the top.
    QStringList titles;
    for (auto it = fs::recursive_directory_iterator(
             root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& path = it->path();
        std::error_code typeError;
        if (path.extension() != ".txt" || !it->is_regular_file(typeError))
            continue;
        fs::path relative = path.lexically_relative(root);
        relative.replace_extension();
        titles << QString::fromStdString(relative.generic_string());
    }
    return sortedListTitles(titles);
}

std::optional<QString> readSavedList(const QString& folder, const QString& fileName) {
    if (folder.isEmpty())
        return std::nullopt;
    const QString path = QDir::cleanPath(folder + u'/' + fileName);
    if (!path.startsWith(QDir::cleanPath(folder) + u'/'))
        return std::nullopt;
    auto text = readAsciiFile(path);
    if (!text && QFileInfo::exists(path))
        systemLog(QStringLiteral("The channel list %1 was not loaded: it is not a plain ASCII text "
                                 "file of at most 16 MiB. The list shown stays.")
                      .arg(quotedForLog(fileName)));
    return text;
}
