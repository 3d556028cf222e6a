#pragma once

#include "base/ChannelId.h"
#include "store/Segment.h"

#include <QString>

#include <cstddef>
#include <optional>
#include <vector>

// miniSEED (version 2) read with libmseed, for answers and files of any number of records.
namespace miniseed {

// The most bytes one record may take: libmseed's own limit for version 2 records.
constexpr std::size_t kMaxRecordLength = 65536;

// One data record's channel, timing and samples (Steim-1, Steim-2, 16- and 32-bit integers,
// 32- and 64-bit floats). Nothing, and why, when the `length` bytes are not one sound data
// record of exactly that length.
struct Record {
    ChannelId channel;
    Segment samples;
};
std::optional<Record> decodeRecord(const char* data, std::size_t length, QString* why = nullptr);

struct Limits {
    // Samples kept in all; records beyond are left out and counted as refused.
    std::size_t maxSamples = std::size_t{64} << 20;
};

// What a run of records gave: the samples of each channel, joined into gapless segments (a
// channel's segments oldest first, channels in the order they first appear); the records that
// could not be used, and why the first of them could not; whether the bytes ended inside a
// record.
struct Contents {
    std::vector<Segment> segments;
    int records = 0; // data records used
    int seen = 0;    // records of a length that could be told, used or not
    int refused = 0;
    QString firstProblem;
    bool truncated = false;
    bool tooMany = false; // samples beyond Limits::maxSamples were left out

    // What could not be used, in words: "2 of 10 records could not be used (the first: …)",
    // "it ends inside a record", or both joined by "; ". Empty when everything could.
    QString leftOut() const;
};
// Records are read one after another; a record that cannot be read is skipped by its length
// (or, when its length cannot be told, by the smallest record length) so the rest still count.
// Text and other non-data records are passed over silently. Records that repeat samples already
// held are cut to what is new.
Contents read(const char* data, std::size_t length, Limits limits = {});

// Records whose channel is not `channel` (location "--" and blank alike) are passed over.
Contents readChannel(const char* data, std::size_t length, const ChannelId& channel,
                     Limits limits = {});

// Joins records (any order, several channels) into gapless segments: contiguous where the next
// record starts within half a sample of where the previous ended at the same interval.
std::vector<Segment> joinRecords(std::vector<Segment> records);

} // namespace miniseed
