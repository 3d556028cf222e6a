#include "components/sac/SacHeader.h"

#include <algorithm>
#include <cstring>

namespace sac {

namespace {

constexpr Field F(std::string_view n, int w) {
    return {n, w, FieldType::Float, 4};
}
constexpr Field N(std::string_view n, int w) {
    return {n, w, FieldType::Integer, 4};
}
constexpr Field I(std::string_view n, int w) {
    return {n, w, FieldType::Enumerated, 4};
}
constexpr Field L(std::string_view n, int w) {
    return {n, w, FieldType::Logical, 4};
}
constexpr Field K(std::string_view n, int off, int len = 8) {
    return {n, off, FieldType::Text, len};
}

// Names and positions from the SAC v102 header map.
constexpr Field kFields[] = {
    F("delta", 0),    F("depmin", 1),    F("depmax", 2),    F("scale", 3),     F("odelta", 4),
    F("b", 5),        F("e", 6),         F("o", 7),         F("a", 8),         F("t0", 10),
    F("t1", 11),      F("t2", 12),       F("t3", 13),       F("t4", 14),       F("t5", 15),
    F("t6", 16),      F("t7", 17),       F("t8", 18),       F("t9", 19),       F("f", 20),
    F("resp0", 21),   F("resp1", 22),    F("resp2", 23),    F("resp3", 24),    F("resp4", 25),
    F("resp5", 26),   F("resp6", 27),    F("resp7", 28),    F("resp8", 29),    F("resp9", 30),
    F("stla", 31),    F("stlo", 32),     F("stel", 33),     F("stdp", 34),     F("evla", 35),
    F("evlo", 36),    F("evel", 37),     F("evdp", 38),     F("mag", 39),      F("user0", 40),
    F("user1", 41),   F("user2", 42),    F("user3", 43),    F("user4", 44),    F("user5", 45),
    F("user6", 46),   F("user7", 47),    F("user8", 48),    F("user9", 49),    F("dist", 50),
    F("az", 51),      F("baz", 52),      F("gcarc", 53),    F("depmen", 56),   F("cmpaz", 57),
    F("cmpinc", 58),  F("xminimum", 59), F("xmaximum", 60), F("yminimum", 61), F("ymaximum", 62),
    N("nzyear", 70),  N("nzjday", 71),   N("nzhour", 72),   N("nzmin", 73),    N("nzsec", 74),
    N("nzmsec", 75),  N("nvhdr", 76),    N("norid", 77),    N("nevid", 78),    N("npts", 79),
    N("nwfid", 81),   N("nxsize", 82),   N("nysize", 83),   I("iftype", 85),   I("idep", 86),
    I("iztype", 87),  I("iinst", 89),    I("istreg", 90),   I("ievreg", 91),   I("ievtyp", 92),
    I("iqual", 93),   I("isynth", 94),   I("imagtyp", 95),  I("imagsrc", 96),  L("leven", 105),
    L("lpspol", 106), L("lovrok", 107),  L("lcalda", 108),  K("kstnm", 440),   K("kevnm", 448, 16),
    K("khole", 464),  K("ko", 472),      K("ka", 480),      K("kt0", 488),     K("kt1", 496),
    K("kt2", 504),    K("kt3", 512),     K("kt4", 520),     K("kt5", 528),     K("kt6", 536),
    K("kt7", 544),    K("kt8", 552),     K("kt9", 560),     K("kf", 568),      K("kuser0", 576),
    K("kuser1", 584), K("kuser2", 592),  K("kcmpnm", 600),  K("knetwk", 608),  K("kdatrd", 616),
    K("kinst", 624),
};

std::uint32_t swap32(std::uint32_t v) {
    return __builtin_bswap32(v);
}

std::uint32_t readWord(std::span<const std::byte> bytes, std::size_t index, std::endian order) {
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data() + index * 4, 4);
    return order == std::endian::native ? v : swap32(v);
}

bool isKnownVersion(std::int32_t v) {
    return v == 6 || v == 7;
}

} // namespace

std::span<const Field> headerFields() {
    return kFields;
}

SacHeader SacHeader::blank() {
    SacHeader h;
    for (int w = 0; w < kFloatWords; ++w)
        h.setFloat(w, kUndefinedFloat);
    for (int w = kFloatWords; w < kNumericWords; ++w)
        h.setInt(w, kUndefinedInt);
    std::fill(h.text_.begin(), h.text_.end(), ' ');
    for (const Field& f : kFields) {
        if (f.type == FieldType::Logical)
            h.setInt(f.offset, 0);
        else if (f.type == FieldType::Text)
            h.setText(f, f.length == 16 ? "-12345  -12345" : kUndefinedText);
    }
    h.setInt(word::NVHDR, 6);
    h.setInt(word::IFTYPE, ITIME);
    h.setInt(word::LEVEN, 1);
    h.setInt(word::NPTS, 0);
    return h;
}

std::optional<SacHeader> SacHeader::decode(std::span<const std::byte> bytes) {
    if (bytes.size() < kHeaderBytes)
        return std::nullopt;
    for (std::endian order : {std::endian::little, std::endian::big}) {
        if (!isKnownVersion(static_cast<std::int32_t>(readWord(bytes, word::NVHDR, order))))
            continue;
        SacHeader h;
        h.order_ = order;
        for (std::size_t w = 0; w < static_cast<std::size_t>(kNumericWords); ++w)
            h.words_[w] = readWord(bytes, w, order);
        std::memcpy(h.text_.data(), bytes.data() + kTextOffset, kTextBytes);
        return h;
    }
    return std::nullopt;
}

std::array<std::byte, kHeaderBytes> SacHeader::encode(std::endian order) const {
    std::array<std::byte, kHeaderBytes> out{};
    for (std::size_t w = 0; w < static_cast<std::size_t>(kNumericWords); ++w) {
        const std::uint32_t v = order == std::endian::native ? words_[w] : swap32(words_[w]);
        std::memcpy(out.data() + w * 4, &v, 4);
    }
    std::memcpy(out.data() + kTextOffset, text_.data(), kTextBytes);
    return out;
}

std::string SacHeader::getText(const Field& f) const {
    const char* begin = text_.data() + (static_cast<std::size_t>(f.offset) - kTextOffset);
    std::string s(begin, static_cast<std::size_t>(f.length));
    // Some writers end text with NUL instead of padding it with blanks.
    if (auto nul = s.find('\0'); nul != std::string::npos)
        s.resize(nul);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

void SacHeader::setText(const Field& f, std::string_view value) {
    char* begin = text_.data() + (static_cast<std::size_t>(f.offset) - kTextOffset);
    const std::size_t len = static_cast<std::size_t>(f.length);
    std::fill(begin, begin + len, ' ');
    std::memcpy(begin, value.data(), std::min(len, value.size()));
}

} // namespace sac
