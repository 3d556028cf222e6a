#pragma once

#include <QString>

#include <optional>

// A whole file read as 7-bit ASCII text. Nothing when the file is missing, is not a regular file,
// cannot be read, is larger than a channel list could sensibly be (16 MiB), or holds any byte
// above 127.
std::optional<QString> readAsciiFile(const QString& path);
