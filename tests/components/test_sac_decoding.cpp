// Decoding SAC bodies: both byte orders, the header fields the application reads, and the
// malformed bodies a web service or a disk can hand us.
#include "SacTestFiles.h"

#include "base/Time.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using namespace sac;

namespace {

const SacObject::Date kRef = civil::dateOf(2012, 6, 15, 10, 0, 0, 250'000'000);

std::vector<std::byte> validBody(std::size_t n = 100, std::endian order = std::endian::little) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(i) * 0.5f - 7.0f;
    SacObject s = SacObject::fromSamples(x, 0.05, kRef, 1.5);
    s.header()->setText(text::KCMPNM, "BHZ");
    s.header()->setText(text::KSTNM, "ANMO");
    return s.encode(order);
}

void putInt(std::vector<std::byte>& b, int word, std::int32_t v) {
    std::memcpy(b.data() + 4 * word, &v, 4);
}
void putFloat(std::vector<std::byte>& b, int word, float v) {
    std::memcpy(b.data() + 4 * word, &v, 4);
}

} // namespace

TEST(SacDecoding, RoundTripsInBothByteOrders) {
    for (std::endian order : {std::endian::little, std::endian::big}) {
        const auto body = validBody(100, order);
        SacObject s;
        ASSERT_TRUE(s.initWithNSData(body, "ANMO.IU.BHZ.00.sac"));
        EXPECT_TRUE(s.isSacFile());
        EXPECT_EQ(s.GetSacHeader()->byteOrder(), order);
        ASSERT_EQ(s.samples().size(), 100u);
        EXPECT_FLOAT_EQ(s.samples()[3], -5.5f);
        EXPECT_FLOAT_EQ(static_cast<float>(s.delta()), 0.05f);
        EXPECT_EQ(s.kcmpnm(), "BHZ");
        EXPECT_EQ(s.GetSacHeader()->getText(text::KSTNM), "ANMO");
        EXPECT_EQ(s.name(), "ANMO.IU.BHZ.00.sac");
        // Reference time plus B, to the microsecond float32 B allows.
        EXPECT_NEAR(civil::secondsBetween(kRef, s.startTime()), 1.5, 1e-6);
    }
}

TEST(SacDecoding, ReadsFilesWrittenByAnotherWriterInEitherOrder) {
    SacObject le, be;
    ASSERT_TRUE(load(le, readGolden("order.le.sac")));
    ASSERT_TRUE(load(be, readGolden("order.be.sac")));
    EXPECT_EQ(le.GetSacHeader()->byteOrder(), std::endian::little);
    EXPECT_EQ(be.GetSacHeader()->byteOrder(), std::endian::big);
    ASSERT_EQ(le.samples().size(), 300u);
    EXPECT_TRUE(std::equal(le.samples().begin(), le.samples().end(), be.samples().begin()));
    EXPECT_EQ(le.startTime(), civil::dateOf(2012, 6, 15, 10, 0, 0));
    EXPECT_EQ(le.kcmpnm(), "BHZ");
}

TEST(SacDecoding, AcceptsVersionSevenWithItsFooter) {
    auto body = validBody(10);
    putInt(body, word::NVHDR, 7);
    body.resize(body.size() + kFooterBytesV7, std::byte{0});
    SacObject s;
    ASSERT_TRUE(s.initWithNSData(body, "v7"));
    EXPECT_TRUE(s.isSacFile());
    EXPECT_EQ(s.samples().size(), 10u);
}

TEST(SacDecoding, ComponentNameIsTrimmedOfPaddingAndNul) {
    auto body = validBody(4);
    const char padded[8] = {'L', 'H', 'Z', '\0', 'x', 'x', 'x', 'x'};
    std::memcpy(body.data() + text::KCMPNM.offset, padded, 8);
    SacObject s;
    ASSERT_TRUE(s.initWithNSData(body, ""));
    EXPECT_EQ(s.kcmpnm(), "LHZ");
}

TEST(SacDecoding, UndefinedReferenceTimeFallsBackToTheEpochPlusB) {
    auto body = validBody(4);
    putInt(body, word::NZYEAR, kUndefinedInt);
    SacObject s;
    ASSERT_TRUE(s.initWithNSData(body, ""));
    EXPECT_NEAR(civil::secondsBetween(SacObject::Date{}, s.startTime()), 1.5, 1e-6);
}

TEST(SacDecoding, RefusesWhatIsNotACompleteSacFile) {
    const std::string html = "<html><head><title>404 Not Found</title></head><body>"
                             "<h1>Not Found</h1></body></html>";
    const std::string fdsnError = "Error 400: Bad Request\n\nSyntax Error in Request\n"
                                  "Usage details are available from http://service.iris.edu/\n";
    auto asBytes = [](const std::string& s) {
        std::vector<std::byte> b(s.size());
        std::memcpy(b.data(), s.data(), s.size());
        return b;
    };
    auto withInt = [](int w, std::int32_t v) {
        auto b = validBody();
        putInt(b, w, v);
        return b;
    };
    auto truncated = [](std::ptrdiff_t cut) {
        const auto b = validBody();
        return std::vector<std::byte>(b.begin(), b.end() - cut);
    };
    auto bigPage = asBytes(html);
    bigPage.resize(4096, std::byte{' '}); // long enough for a header, but no version anywhere

    const std::pair<const char*, std::vector<std::byte>> bodies[] = {
        {"empty body", {}},
        {"HTML error page", asBytes(html)},
        {"FDSN error text", asBytes(fdsnError)},
        {"HTML page longer than a header", bigPage},
        {"one byte short of a header", std::vector<std::byte>(kHeaderBytes - 1)},
        {"header of zeros", std::vector<std::byte>(kHeaderBytes)},
        {"unknown header version", withInt(word::NVHDR, 99)},
        {"version 5", withInt(word::NVHDR, 5)},
        {"last sample cut short", truncated(1)},
        {"half the samples missing", truncated(200)},
        {"negative sample count", withInt(word::NPTS, -1)},
        {"sample count past the body", withInt(word::NPTS, 101)},
        {"sample count that overflows 32-bit sizes",
         withInt(word::NPTS, std::numeric_limits<std::int32_t>::max())},
        {"most negative sample count",
         withInt(word::NPTS, std::numeric_limits<std::int32_t>::min())},
    };
    for (const auto& [what, body] : bodies) {
        SacObject s;
        EXPECT_FALSE(s.initWithNSData(body, "x")) << what;
        EXPECT_EQ(s.GetSacHeader(), nullptr) << what;
        EXPECT_EQ(s.GetSacSeis(), nullptr) << what;
        EXPECT_FALSE(s.isSacFile()) << what;
    }
}

TEST(SacDecoding, DecodedHeadersThatAreNoDrawableSeismogramFailTheValidityTest) {
    auto withFloat = [](int w, float v) {
        auto b = validBody();
        putFloat(b, w, v);
        return b;
    };
    const std::pair<const char*, std::vector<std::byte>> bodies[] = {
        {"zero sample interval", withFloat(word::DELTA, 0.0f)},
        {"negative sample interval", withFloat(word::DELTA, -0.05f)},
        {"sample interval not a number",
         withFloat(word::DELTA, std::numeric_limits<float>::quiet_NaN())},
        {"infinite sample interval",
         withFloat(word::DELTA, std::numeric_limits<float>::infinity())},
        {"unevenly spaced",
         [] {
             auto b = validBody();
             putInt(b, word::LEVEN, 0);
             return b;
         }()},
    };
    for (const auto& [what, body] : bodies) {
        SacObject s;
        ASSERT_TRUE(s.initWithNSData(body, "x")) << what;
        EXPECT_NE(s.GetSacSeis(), nullptr) << what;
        EXPECT_FALSE(s.isSacFile()) << what;
    }
}

TEST(SacDecoding, AnEmptyTraceDecodesWithAHeaderButNoSamples) {
    SacObject s;
    ASSERT_TRUE(s.initWithNSData(validBody(0), "empty"));
    EXPECT_NE(s.GetSacHeader(), nullptr);
    EXPECT_EQ(s.GetSacSeis(), nullptr);
}

TEST(SacDecoding, ExtremaAreComputedFromTheSamples) {
    SacObject s;
    ASSERT_TRUE(s.initWithNSData(validBody(100), ""));
    s.header()->setFloat(word::DEPMIN, 0);
    s.ComputeExtrema();
    EXPECT_FLOAT_EQ(s.GetSacHeader()->getFloat(word::DEPMIN), -7.0f);
    EXPECT_FLOAT_EQ(s.GetSacHeader()->getFloat(word::DEPMAX), 42.5f);
    EXPECT_NEAR(s.GetSacHeader()->getFloat(word::DEPMEN), 17.75f, 1e-4);
}
