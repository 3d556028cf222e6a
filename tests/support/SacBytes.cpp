#include "SacBytes.h"

#include "components/sac/SacObject.h"

QByteArray sacBytes(const std::vector<float>& samples, double delta,
                    std::chrono::system_clock::time_point start, const std::string& component) {
    SacObject s = SacObject::fromSamples(samples, delta, start);
    s.header()->setText(sac::text::KCMPNM, component);
    const auto bytes = s.encode();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}
