#include "base/AsciiFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {
constexpr qint64 kMaxBytes = qint64{16} << 20;
}

std::optional<QString> readAsciiFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(kMaxBytes + 1);
    if (bytes.size() > kMaxBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    if (std::any_of(bytes.begin(), bytes.end(),
                    [](char c) { return static_cast<unsigned char>(c) > 127; }))
        return std::nullopt;
    return QString::fromLatin1(bytes);
}
