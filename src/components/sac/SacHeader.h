#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sac {

// Binary SAC layout (SAC v102 "SAC Data File Format"): 70 float words, 40 integer words and
// 192 bytes of blank-padded text, 632 bytes in all, followed by the samples.
inline constexpr std::size_t kHeaderBytes = 632;
inline constexpr int kFloatWords = 70;
inline constexpr int kNumericWords = 110;
inline constexpr std::size_t kTextOffset = 440;
inline constexpr std::size_t kTextBytes = 192;
inline constexpr std::size_t kFooterBytesV7 = 22 * 8;

inline constexpr float kUndefinedFloat = -12345.0f;
inline constexpr std::int32_t kUndefinedInt = -12345;
inline constexpr std::string_view kUndefinedText = "-12345";

enum class FieldType { Float, Integer, Enumerated, Logical, Text };

struct Field {
    std::string_view name;
    int offset; // word index for numbers, byte offset for text
    FieldType type;
    int length; // text length in bytes; 4 for numbers
};

// Word indices of the numeric fields this program reads or writes.
namespace word {
inline constexpr int DELTA = 0, DEPMIN = 1, DEPMAX = 2, SCALE = 3, B = 5, E = 6, O = 7, A = 8;
inline constexpr int STLA = 31, STLO = 32, STEL = 33, EVLA = 35, EVLO = 36, EVDP = 38, MAG = 39;
inline constexpr int DIST = 50, AZ = 51, BAZ = 52, GCARC = 53, DEPMEN = 56, CMPAZ = 57, CMPINC = 58;
inline constexpr int NZYEAR = 70, NZJDAY = 71, NZHOUR = 72, NZMIN = 73, NZSEC = 74, NZMSEC = 75;
inline constexpr int NVHDR = 76, NPTS = 79, IFTYPE = 85, IDEP = 86, IZTYPE = 87, IINST = 89;
inline constexpr int LEVEN = 105, LPSPOL = 106, LOVROK = 107, LCALDA = 108;
} // namespace word

// Byte offsets of the text fields.
namespace text {
inline constexpr Field KSTNM{"kstnm", 440, FieldType::Text, 8};
inline constexpr Field KEVNM{"kevnm", 448, FieldType::Text, 16};
inline constexpr Field KHOLE{"khole", 464, FieldType::Text, 8};
inline constexpr Field KCMPNM{"kcmpnm", 600, FieldType::Text, 8};
inline constexpr Field KNETWK{"knetwk", 608, FieldType::Text, 8};
inline constexpr Field KINST{"kinst", 624, FieldType::Text, 8};
} // namespace text

// Enumerated values (SAC2000 inc/extfunc.h).
inline constexpr std::int32_t ITIME = 1, IUNKN = 5, IVEL = 7, IB = 9;

// Every named field, in file order; unnamed and internal words keep their null value.
std::span<const Field> headerFields();

class SacHeader {
public:
    // A header with every field undefined, as SAC's "newhdr" makes it: version 6, an evenly
    // spaced time series, logicals false except LEVEN.
    static SacHeader blank();

    // Decodes the first 632 bytes; the byte order is the one in which NVHDR reads 6 or 7
    // (little-endian tried first).
    static std::optional<SacHeader> decode(std::span<const std::byte> bytes);

    std::array<std::byte, kHeaderBytes> encode(std::endian order) const;

    float getFloat(int w) const {
        return std::bit_cast<float>(words_[static_cast<std::size_t>(w)]);
    }
    void setFloat(int w, float v) {
        words_[static_cast<std::size_t>(w)] = std::bit_cast<std::uint32_t>(v);
    }
    std::int32_t getInt(int w) const {
        return static_cast<std::int32_t>(words_[static_cast<std::size_t>(w)]);
    }
    void setInt(int w, std::int32_t v) {
        words_[static_cast<std::size_t>(w)] = static_cast<std::uint32_t>(v);
    }
    // Text up to the first NUL, trailing blanks removed.
    std::string getText(const Field& f) const;
    // Stored blank-padded, cut to the field's length.
    void setText(const Field& f, std::string_view value);

    std::endian byteOrder() const { return order_; }

private:
    SacHeader() = default;
    std::array<std::uint32_t, kNumericWords> words_{};
    std::array<char, kTextBytes> text_{};
    std::endian order_ = std::endian::little;
};

} // namespace sac
