// What the view writes beside each row and the order of the rows, from values alone.
#include "display/RowNotes.h"

#include "acquisition/TraceList.h"
#include "base/DateText.h"
#include "channels/StationPlaces.h"
#include "components/sac/SacObject.h"

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

// From a retrieval's result to the notes: the traces' stations and places as their headers give
// them (a place out of range is not taken, one known stays), each row's short pieces.
TEST(RowNotes, ATraceListsStationsPlacesAndShortPiecesReachTheirRows) {
    const Time start = *datetext::parseRequestTime(u"2024-01-01T00:00:00.0000Z");
    auto traceOf = [&](const char* station, float lat, float lon) {
        auto s = std::make_unique<SacObject>(
            SacObject::fromSamples(std::vector<float>(100, 1.0f), 0.5, start));
        s->header()->setText(sac::text::KNETWK, "IU");
        s->header()->setText(sac::text::KSTNM, station);
        s->header()->setFloat(sac::word::STLA, lat);
        s->header()->setFloat(sac::word::STLO, lon);
        return s;
    };
    CycleResult result;
    result.start = start;
    result.end = civil::addSeconds(start, 50);
    result.traces.push_back({0, "near", traceOf("NEAR", 10, 20), nullptr, nullptr});
    result.traces.push_back({1, "far", traceOf("FAR", 95, 20), nullptr, nullptr});
    result.traces.push_back({2, "kept", traceOf("KEPT", -40, 100), nullptr, nullptr});
    result.unfiltered = {{1, 1}};
    TraceList list(std::make_shared<TraceList::Traces>());
    list.apply(result, {"near", "far", "kept"}, start, start);

    StationPlaces places;
    places.learn("IU.KEPT", {50, 50});
    EXPECT_EQ(places.learnFromHeaders(*list.traces()),
              (QStringList{"IU.NEAR", "IU.FAR", "IU.KEPT"}));
    ASSERT_TRUE(places.place("IU.NEAR"));
    EXPECT_EQ(places.place("IU.NEAR")->latitude, 10);
    EXPECT_FALSE(places.place("IU.FAR")) << "a latitude of 95 is no place";
    EXPECT_EQ(places.place("IU.KEPT")->latitude, 50) << "a known place is kept";

    SeismicOrigin origin;
    origin.latitude = 10;
    origin.longitude = 30;
    origin.depthKm = 10;
    origin.originTime = start;
    const auto layout = rownotes::arrange(list, origin, "iasp91", places, {}, true);
    ASSERT_EQ(layout.notes.size(), 3u);
    ASSERT_EQ(layout.order.size(), 3u);
    EXPECT_EQ(layout.order[0], 0u) << "the nearest first";
    EXPECT_EQ(layout.order[2], 1u) << "the unplaced last";
    EXPECT_TRUE(layout.notes[0].note.startsWith(u"9."));
    EXPECT_FALSE(layout.notes[0].status.contains(u"too short"));
    EXPECT_TRUE(layout.notes[2].status.contains(
        u"1 piece too short for the filters, drawn unfiltered")); // FAR's row, now last
}

// The contexts are kept between layouts, but only while nothing they come from has changed:
// another origin, model, place or set of stations gives notes of its own.
TEST(RowNotes, KeptContextsFollowTheOriginTheModelThePlacesAndTheStations) {
    const Time start = *datetext::parseRequestTime(u"2024-01-01T00:00:00.0000Z");
    auto traceOf = [&](const char* station) {
        auto s = std::make_unique<SacObject>(
            SacObject::fromSamples(std::vector<float>(100, 1.0f), 0.5, start));
        s->header()->setText(sac::text::KNETWK, "IU");
        s->header()->setText(sac::text::KSTNM, station);
        return s;
    };
    CycleResult result;
    result.start = start;
    result.end = civil::addSeconds(start, 50);
    result.traces.push_back({0, "a", traceOf("AAA"), nullptr, nullptr});
    result.traces.push_back({1, "b", traceOf("BBB"), nullptr, nullptr});
    TraceList list(std::make_shared<TraceList::Traces>());
    list.apply(result, {"a", "b"}, start, start);
    StationPlaces places;
    places.learn("IU.AAA", {0, 40});
    places.learn("IU.BBB", {0, 60});
    SeismicOrigin origin;
    origin.depthKm = 10;
    origin.originTime = start;

    rownotes::ContextMemo memo;
    auto notes = [&](const QString& model = QStringLiteral("iasp91")) {
        const auto layout = rownotes::arrange(list, origin, model, places, {}, false, &memo);
        std::vector<QString> out;
        for (const auto& n : layout.notes)
            out.push_back(
                n.note + u'|' + (n.marks.empty() ? QString() : n.marks.front().second) + u'|' +
                QString::number(
                    n.marks.empty() ? 0.0 : civil::secondsBetween(start, n.marks.front().first)));
        return out;
    };
    const auto first = notes();
    EXPECT_TRUE(first[0].startsWith(u"40.0")) << first[0].toStdString();
    EXPECT_EQ(notes(), first);
    EXPECT_EQ(memo.workedOut(), 1) << "nothing changed: the travel times are not worked out again";

    places.learn("IU.AAA", {0, 20}); // a station placed anew
    const auto moved = notes();
    EXPECT_TRUE(moved[0].startsWith(u"20.0")) << moved[0].toStdString();
    EXPECT_EQ(moved[1], first[1]);

    origin.longitude = 10; // another earthquake
    const auto shifted = notes();
    EXPECT_TRUE(shifted[0].startsWith(u"10.0")) << shifted[0].toStdString();
    EXPECT_TRUE(shifted[1].startsWith(u"50.0")) << shifted[1].toStdString();

    origin.originTime = civil::addSeconds(start, 100); // the same place, later
    const auto later = notes();
    ASSERT_EQ(later.size(), shifted.size());
    EXPECT_NE(later[0], shifted[0]) << "the predicted arrivals move with the origin time";

    const auto other = notes(QStringLiteral("ak135"));
    EXPECT_NE(other, later) << "another model predicts other times";

    result = {};
    result.start = start;
    result.end = civil::addSeconds(start, 50);
    result.traces.push_back({0, "b", traceOf("BBB"), nullptr, nullptr});
    list.apply(result, {"b"}, start, start); // another set of stations
    const auto fewer = notes(QStringLiteral("ak135"));
    ASSERT_EQ(fewer.size(), 1u);
    EXPECT_EQ(fewer[0], other[1]);
}

// Rows a result keeps stay as they were held, every piece of them, in row order among the
// rows it brings anew.
TEST(TraceListApply, KeptRowsKeepAllTheirPiecesInRowOrder) {
    const Time start = *datetext::parseRequestTime(u"2024-01-01T00:00:00.0000Z");
    auto piece = [&](double at) {
        return std::make_unique<SacObject>(SacObject::fromSamples(std::vector<float>(10, 1.0f), 1.0,
                                                                  civil::addSeconds(start, at)));
    };
    auto rawOf = [&] {
        return std::make_shared<const SacObject>(
            SacObject::fromSamples(std::vector<float>(10, 2.0f), 1.0, start));
    };
    CycleResult result;
    result.start = start;
    result.end = civil::addSeconds(start, 100);
    for (const int row : {2, 0, 1, 2, 0})
        result.traces.push_back({row, "x", piece(row * 10.0), rawOf(), nullptr});
    TraceList list(std::make_shared<TraceList::Traces>());
    list.apply(result, {"a", "b", "c"}, start, start);
    ASSERT_EQ(list.rows(), (QList<int>{0, 0, 1, 2, 2}));
    std::vector<std::uint64_t> held;
    std::vector<const SacObject*> raws;
    for (std::size_t i = 0; i < list.traces()->size(); ++i) {
        held.push_back((*list.traces())[i]->identity());
        raws.push_back(list.raw(i));
    }

    CycleResult next;
    next.start = start;
    next.end = civil::addSeconds(start, 100);
    next.kept = {2, 0};
    next.traces.push_back({1, "b", piece(50), nullptr, nullptr});
    const auto applied = list.apply(next, {"a", "b", "c"}, start, start);
    EXPECT_TRUE(applied.drawn);
    EXPECT_EQ(applied.rowsRetrieved, 1);
    ASSERT_EQ(list.rows(), (QList<int>{0, 0, 1, 2, 2}));
    for (const std::size_t i : {0u, 1u, 3u, 4u}) {
        EXPECT_EQ((*list.traces())[i]->identity(), held[i]) << i;
        EXPECT_EQ(list.raw(i), raws[i]) << i;
    }
    EXPECT_NE((*list.traces())[2]->identity(), held[2]);
    EXPECT_EQ(list.raw(2), nullptr);
}
