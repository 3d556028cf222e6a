#pragma once

#include <QString>

#include <utility>
#include <vector>

class SacObject;

namespace seismogramexport {

// Every trace with samples as a SAC file in folder/processed and, where its raw samples are
// held, folder/raw, named NET.STA.LOC.CHA.<first sample, UTC>.sac and referenced to its own
// first sample; false (and why) when a folder or file cannot be written.
bool write(const QString& folder,
           const std::vector<std::pair<const SacObject*, const SacObject*>>& traces,
           QString* why = nullptr);

} // namespace seismogramexport
