#pragma once

#include "components/SeismicOrigin.h"

#include <QByteArrayView>

#include <optional>
#include <vector>

// Reads the FDSN event text format, by header names. Nothing when the body is no catalogue text
// (no header and no readable line); lines that cannot be read are skipped and counted.
std::optional<std::vector<SeismicOrigin>> parseEventText(QByteArrayView body,
                                                         int* skippedLines = nullptr);
