// What the view writes beside each row and the order of the rows, from values alone.
#include "display/RowNotes.h"

#include <gtest/gtest.h>

namespace {

rownotes::Trace trace(const char* station, int row, bool empty = false, int unfiltered = 0) {
    return {QString::fromLatin1(station), row, true, empty, unfiltered};
}

std::optional<context::RowContext> at(double degrees) {
    context::RowContext c;
    c.degrees = degrees;
    c.note = QStringLiteral("%1°").arg(degrees);
    return c;
}

} // namespace

TEST(RowNotes, PiecesOfOneChannelShareOneViewRowAndTheListOrderHolds) {
    // Row 1 came in two pieces, listed apart; row 0 after them.
    const std::vector<rownotes::Trace> traces = {trace("IU.ANMO", 1), trace("IU.COLA", 0),
                                                 trace("IU.ANMO", 1)};
    const auto layout = rownotes::arrange(traces, {{}, {}, {}}, {}, false, false, false);
    EXPECT_EQ(layout.order, (std::vector<std::size_t>{1, 0, 2}));
    EXPECT_EQ(layout.viewRows, (std::vector<int>{0, 1, 1}));
    ASSERT_EQ(layout.notes.size(), 2u);
}

TEST(RowNotes, ByDistanceNearestFirstAndStationsWithoutOneLast) {
    const std::vector<rownotes::Trace> traces = {trace("A.FAR", 0), trace("A.NONE", 1),
                                                 trace("A.NEAR", 2)};
    const std::vector<std::optional<context::RowContext>> contexts = {at(80), std::nullopt, at(10)};
    auto layout = rownotes::arrange(traces, contexts, {}, true, false, true);
    EXPECT_EQ(layout.order, (std::vector<std::size_t>{2, 0, 1}));
    EXPECT_EQ(layout.notes[0].note, QStringLiteral("10°"));
    // Without an earthquake the list's order holds even with sorting asked for.
    layout = rownotes::arrange(traces, {{}, {}, {}}, {}, false, false, true);
    EXPECT_EQ(layout.order, (std::vector<std::size_t>{0, 1, 2}));
}

TEST(RowNotes, HealthFailuresAndShortPiecesAreSaidOnTheirOwnRow) {
    std::vector<RowState> rows(3);
    rows[0].health = QStringLiteral("latency 3 s");
    rows[1].failure = QStringLiteral("HTTP 404");
    rows[2].silent = true;
    const std::vector<rownotes::Trace> traces = {trace("A.B", 0, false, 2), trace("A.C", 1, true),
                                                 trace("A.D", 2)};
    const auto layout = rownotes::arrange(traces, {at(5), {}, {}}, rows, true, false, false);
    ASSERT_EQ(layout.notes.size(), 3u);
    EXPECT_EQ(layout.notes[0].note, QStringLiteral("5°\nlatency 3 s"));
    EXPECT_EQ(layout.notes[0].status,
              QStringLiteral("2 pieces too short for the filters, drawn unfiltered"));
    EXPECT_FALSE(layout.notes[0].dimmed);
    EXPECT_EQ(layout.notes[1].status, QStringLiteral("No data: HTTP 404"));
    EXPECT_TRUE(layout.notes[1].dimmed);
    EXPECT_TRUE(layout.notes[2].dimmed); // silent, though it has samples
    // A station with no place while an earthquake is shown says so.
    EXPECT_FALSE(layout.notes[2].status.isEmpty());
}
