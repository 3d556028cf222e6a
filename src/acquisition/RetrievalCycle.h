#pragma once

#include "acquisition/AcquisitionFailure.h"
#include "acquisition/ChannelRequest.h"
#include "acquisition/WaveformSource.h"
#include "acquisition/WindowRequest.h"
#include "base/ChannelId.h"
#include "base/Mailbox.h"
#include "base/Time.h"
#include "base/WorkerPool.h"
#include "channels/ChannelTable.h"
#include "components/sac/SacHeader.h"
#include "processing/ProcessingOptions.h"

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class SacObject;
class TraceStore;

// Everything a cycle reads, taken from the controls at once when it starts.
struct CycleRequest {
    ChannelTable channels; // in table order
    WindowRequest window;
    bool monitor = false;     // auto-update runs: a window up to now, kept in the store
    bool incremental = false; // a monitor tick may ask only for what is new
    ProcessingOptions options;
    // Channels (by table row, 1 = yes) whose samples arrive by another way (a stream): the cycle
    // asks the source nothing for them and processes what the store holds.
    std::vector<char> fromStore;
    // A channel from the store whose samples did not change since it was last processed is
    // listed as kept instead of processed again.
    bool keepUnchanged = false;
};

// One piece of a row: a channel's samples without a gap. A row whose channel has gaps in the
// window has several, oldest first, sharing one scale.
struct CycleTrace {
    int index = 0;                         // the channel's row in the table
    QString label;                         // its label there
    std::unique_ptr<SacObject> seismogram; // processed
    std::shared_ptr<const SacObject> raw;  // as it arrived (or as stored), for inspection
    std::shared_ptr<const void> prepared;  // what the ready hook made of it
};

struct ChannelFailure {
    int index = 0;
    ChannelId channel;
    AcquisitionFailure failure;
    bool fromStore = false; // the store held nothing; no source was asked
};

struct CycleResult {
    std::vector<CycleTrace> traces; // table order (a row's pieces oldest first), failures left out
    std::vector<ChannelFailure> failures; // table order
    std::vector<int> kept;                // rows unchanged since their last processing
    std::map<int, int> unfiltered;        // row -> pieces too short to filter, drawn unfiltered
    std::optional<Time> start, end;       // the window
    qint64 bytes = 0;                     // body bytes received
    int wholeWindows = 0, tails = 0;      // requests of each kind
};

// One retrieval over all channels of a table: a request per channel to the source, each answer
// processed off the owner's thread, failures logged in table order as they are delivered, and
// one result at the end. In monitor mode every answer goes into the store, and each row is made
// of every piece the store holds in the window, gaps left as gaps. With incremental updates a
// channel whose stored samples reach back to the window start asks only for the tail from its
// newest stored sample (less a few samples of overlap) to the window end. A tail that leaves a
// gap, or that fails, makes the channel fetch its whole window once, next time. Typed and event
// windows always fetch the whole window and leave the store alone.
class RetrievalCycle : public QObject {
    Q_OBJECT
public:
    // A monitored window that ends longer than this before now is not kept in the store.
    static constexpr double kRecentSeconds = 600;
    // Samples a tail repeats, so that its join can be checked.
    static constexpr int kOverlapSamples = 5;
    // The most samples one cycle holds in all (a GiB of them); channels beyond are left out.
    static constexpr std::size_t kMaxCycleSamples = std::size_t{256} << 20;

    RetrievalCycle(WaveformSource& source, TraceStore& store, QObject* parent = nullptr);
    ~RetrievalCycle() override;

    // Processing on the caller's thread, as the answers arrive (with an inline source, the whole
    // cycle then ends before start() returns).
    void setInlineProcessing(bool on) { inlineProcessing_ = on; }
    // Runs on the worker once a trace is processed; what it returns travels with the trace
    // (a view's summary of the samples, made off the GUI thread).
    using ReadyHook = std::function<std::shared_ptr<const void>(const SacObject&)>;
    void setReadyHook(ReadyHook hook) { readyHook_ = std::move(hook); }
    // A cycle still running is cancelled first.
    void start(CycleRequest request);
    // Nothing of the running cycle arrives any more; its transfers are abandoned.
    void cancel();
    bool isRunning() const { return running_ != nullptr; }
    // The header a channel's traces made from the store borrow (its station's place, say), for
    // answers that reached the store another way.
    void rememberHeader(const ChannelId& channel, const sac::SacHeader& header) {
        headers_.insert_or_assign(channel, header);
    }
    void setMaxCycleSamples(std::size_t n) { maxCycleSamples_ = n; }

Q_SIGNALS:
    void finished(std::shared_ptr<CycleResult> result);

private:
    struct Running;
    void onSeismogram(int index, std::shared_ptr<SacObject> seismogram, qint64 bytes);
    void onSegments(int index, std::vector<Segment> segments, qint64 bytes);
    // False (and the channel failed) when the cycle would hold too many samples with these.
    bool holdSamples(int asked, std::size_t samples);
    // An answer into the store: a whole window's, or a tail that marks the channel when it
    // leaves a gap behind what was held.
    void storeAnswer(int index, const ChannelId& channel, const std::vector<Segment>& pieces);
    void onFailure(int index, const AcquisitionFailure& failure);
    void onWindowFilled();
    // A whole trace, the store's pieces of a channel, or an answer's pieces (when neither).
    void process(int index, std::shared_ptr<SacObject> whole, std::optional<ChannelId> fromStore,
                 std::vector<Segment> pieces = {});
    struct Processed {
        std::vector<CycleTrace> pieces;
        int unfiltered = 0;
    };
    void processed(quint64 generation, int index, Processed result);
    int rowOf(int asked) const; // the table row of the source's request, -1 if none
    void finishIfDone();

    WaveformSource& source_;
    SourceReplies replies_; // the running cycle's answers
    TraceStore& store_;
    bool inlineProcessing_ = false;
    ReadyHook readyHook_;
    std::size_t maxCycleSamples_ = kMaxCycleSamples;
    std::unique_ptr<Running> running_;
    quint64 generation_ = 0;
    std::unordered_set<ChannelId> dirty_;                   // must fetch the whole window next time
    std::unordered_map<ChannelId, sac::SacHeader> headers_; // of each channel's last whole answer
    // The store's revision of each channel when it was last processed, and with which options.
    std::unordered_map<ChannelId, std::uint64_t> processedRevision_;
    std::optional<ProcessingOptions> processedOptions_;
    Mailbox mailbox_;
    WorkerPool pool_; // last: joined before the rest goes
};
