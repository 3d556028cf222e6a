#pragma once

#include "components/sac/SacObject.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <span>
#include <string>

inline QByteArray readGolden(const std::string& name) {
    QFile f(QStringLiteral(GS_GOLDEN_DIR "/") + QString::fromStdString(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline std::span<const std::byte> bytesOf(const QByteArray& b) {
    return std::as_bytes(std::span(b.constData(), static_cast<std::size_t>(b.size())));
}

inline bool load(SacObject& s, const QByteArray& b, std::string name = "test.sac") {
    return s.initWithNSData(bytesOf(b), std::move(name));
}
