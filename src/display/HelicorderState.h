#pragma once

#include "acquisition/DrumFeed.h"
#include "acquisition/WaveformSource.h"
#include "base/Background.h"
#include "base/ChannelId.h"
#include "components/HelicorderView.h"
#include "store/TraceStore.h"

#include <QTimer>

#include <functional>
#include <map>
#include <optional>
#include <set>

class WaveformSource;

// What the helicorder keeps between its operations: its own store of the day's raw samples, the
// feed that fills it, the blocks waiting to be processed (one at a time, off the GUI thread),
// and each block's share of the common scale.
struct HelicorderState {
    explicit HelicorderState(WaveformSource& source)
        : store(std::chrono::hours(50)), feed(source, store) {}

    TraceStore store;
    DrumFeed feed;
    Background worker;
    Background placeLookup;
    QTimer timer;

    bool active = false;
    ChannelId channel;
    HelicorderView::Rows rows;
    // Blocks to process (by start), the one being processed, and what each processed block
    // added to the scale.
    std::set<Time> pending;
    std::optional<Time> running;
    struct Stats {
        double sumSquares = 0;
        std::size_t count = 0;
    };
    std::map<Time, Stats> stats;
    // Until the first fill is processed the scale follows each block; afterwards it is fixed
    // until the drum moves on by a row.
    bool loading = false;
    // Where the stored samples ended before the latest arrival: the newest block's drawing
    // changes only from shortly before it.
    std::optional<Time> previousEnd;
    int piecesFailed = 0;
    QString lastFailure;
    // Called once when the drum has settled (a snapshot waits for it).
    std::function<void()> onSettled;
};
