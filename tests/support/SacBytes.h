#pragma once

#include <QByteArray>

#include <chrono>
#include <string>
#include <vector>

// Little-endian SAC bytes for samples starting at a given instant.
QByteArray sacBytes(const std::vector<float>& samples, double delta,
                    std::chrono::system_clock::time_point start, const std::string& component);
