#pragma once

#include "acquisition/ChannelRequest.h"
#include "app/Outlets.h"
#include "app/UserDefaults.h"
#include "base/Repeats.h"
#include "components/AvailableChannel.h"
#include "components/SeismicOrigin.h"
#include "net/HttpClient.h"
#include "processing/ProcessingOptions.h"

#include <QImage>
#include <QObject>
#include <QStringList>
#include <QVariantList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Background;
class HelicorderView;
class DrumSession;
class StationPlaces;
struct ChannelId;
class TraceInspector;
class NEIC_QueryController;
class QTimer;
class RetrievalCycle;
class MonitorSession;
struct SessionFrame;
class TraceList;
struct ChannelTable;
class SacObject;
class SeedLinkSource;
class SettingsReader;
class TimeSeriesSource;
class TraceStore;

// The one controller of the application. It owns every list the application keeps, the
// earthquake list component, the auto-update timer and the support directory path; it holds the
// controls the window layout made; every user action and every timer tick arrives as one of its
// operations. Its definition is spread over one file per subsystem folder.
class groundswayController : public QObject {
    Q_OBJECT
public:
    using Date = std::chrono::system_clock::time_point;
    using WaveformList = std::vector<std::unique_ptr<SacObject>>;
    using ChannelList = std::vector<AvailableChannel>;

    static inline const QString UserAgent = QStringLiteral("Groundsway (Mac; Mac OS; June 2012)");

    explicit groundswayController(QObject* parent = nullptr);
    ~groundswayController() override;

    // Takes the window layout's controls, shows each setting in its control and stores the
    // user's edits, and connects the buttons, pop-ups and menu commands to the operations.
    void connectOutlets(const Outlets& outlets, const ActionControls& actions = {});
    const Outlets& outlets() const { return o_; }
    UserDefaults& userDefaults() { return defaults_; }

    // Application shell: state, settings and start-up.
    const std::shared_ptr<WaveformList>& theWaveforms() const { return theWaveforms_; }
    void setTheWaveforms(std::shared_ptr<WaveformList> list);
    const std::shared_ptr<NEIC_QueryController>& neicQueryController() const {
        return neicQueryController_;
    }
    void setNeicQueryController(std::shared_ptr<NEIC_QueryController> controller);
    const std::shared_ptr<ChannelList>& availableChannels() const { return availableChannels_; }
    void setavailableChannels(std::shared_ptr<ChannelList> l) { availableChannels_ = std::move(l); }
    const std::shared_ptr<QVariantList>& stationObjects() const { return stationObjects_; }
    void setStationObjects(std::shared_ptr<QVariantList> l) { stationObjects_ = std::move(l); }
    const std::shared_ptr<QStringList>& theStations() const { return theStations_; }
    void setTheStations(std::shared_ptr<QStringList> l) { theStations_ = std::move(l); }
    const std::shared_ptr<QStringList>& theNetworks() const { return theNetworks_; }
    void setTheNetworks(std::shared_ptr<QStringList> l) { theNetworks_ = std::move(l); }
    const std::shared_ptr<QStringList>& theLabels() const { return theLabels_; }
    void setTheLabels(std::shared_ptr<QStringList> l) { theLabels_ = std::move(l); }
    const std::shared_ptr<QStringList>& theChannelCodes() const { return theChannelCodes_; }
    void setTheChannelCodes(std::shared_ptr<QStringList> l) { theChannelCodes_ = std::move(l); }
    const std::shared_ptr<QStringList>& theChannels() const { return theChannels_; }
    const std::shared_ptr<QString>& supportDirectory() const { return supportDirectory_; }
    void setSupportDirectory(std::shared_ptr<QString> path) { supportDirectory_ = std::move(path); }

    void awakeFromNib();
    void applicationDidFinishLaunching();
    void showSettingsWindow(QObject* sender = nullptr);
    void showLogWindow(QObject* sender = nullptr);
    void showHelpWindow(QObject* sender = nullptr);

    // Channel lists.
    void setUpChannelListMenu();
    void parseChannelList(QObject* sender);
    void loadChannelListFromFile(const QString& fileName);
    void setupChannels(QObject* sender = nullptr);
    void updateChannelFinderList(QObject* sender = nullptr);
    void acquireavailableChannels(QObject* sender = nullptr);
    void showChannelFinderWindow(QObject* sender = nullptr);
    // Removes, in place, every entry equal to an earlier one; the first occurrence stays.
    template <class List> static void removeArrayDuplicates(List& list) {
        removeRepeatsInPlace(list);
    }
    // The finder lists at most this many channels, then says how many more there are.
    static constexpr std::size_t kMaxFinderLines = 10000;

    // Seismogram acquisition.
    std::optional<QString> buildURLForChannel(const ChannelRequest& request) const;
    QString formatDateAsString(std::optional<Date> date) const;
    std::unique_ptr<SacObject> downloadSeismogramWithURL(const ChannelRequest& request);
    std::optional<QByteArray> getHTTPDataWithCustomUserAgent(const std::optional<QString>& url);
    QString buildFileNameFromDictionary(const ChannelRequest& request) const;
    void retrieveSeismograms(QObject* sender = nullptr);
    void lastNMinutes(QObject* sender = nullptr);
    void getRecentEventSeismograms(QObject* sender = nullptr);
    // For tests: how long a transfer may stand still before it fails (30 s otherwise).
    void setHttpIdleTimeoutSeconds(long seconds);
    const HttpOptions& httpOptions() const { return http_; }

    // Transfers, decoding and processing run off the GUI thread; inline, each runs to its end
    // before the call returns, in the original strict sequence (the tests rely on it).
    void setInlineAcquisition(bool on);
    bool inlineAcquisition() const { return inline_; }
    // Abandons what is in flight (cycle, transfers, a tick waiting for the catalogue, a look-up).
    void cancelAcquisition();
    RetrievalCycle& retrievalCycle();
    TraceStore& traceStore();
    TimeSeriesSource& timeSeriesSource();
    // What the seismogram window shows, over how long, from which source.
    MonitorSession& monitorSession() { return *session_; }

    // Waveform processing.
    void processSeismogram(SacObject& seismogram);
    // The two option sets as the settings window shows them now.
    ProcessingOptions processingOptions() const;

    // The stream: with "SeedLink stream" chosen, Start fills the monitor window from the
    // time-series service once, then streams; the window scrolls with the present.
    void setDataSource(QObject* sender);
    bool streamChosen() const;
    bool streaming() const;
    SeedLinkSource* seedLinkSource() const;
    // Milliseconds from each record's arrival to the paint that showed it (the newest 100 000).
    const std::vector<double>& arrivalToPixelsMs() const;

    // Display and auto-update.
    void toggleAutoUpdate(QObject* sender = nullptr);
    void update();
    void getAutoUpdateTimer();
    QTimer* theSeismgrmUpdateTimer() const { return theSeismgrmUpdateTimer_.get(); }
    void settheSeismgrmUpdateTimer(std::unique_ptr<QTimer> timer);
    void setSeismogramWindowOpacity(QObject* sender);
    void toggleColorScheme(QObject* sender);
    void toggleShowOrigins(QObject* sender);
    void adjustWaveformPlotGain(QObject* sender = nullptr);
    // The earthquake's context on the traces.
    void toggleSortByDistance(QObject* sender);
    void setTravelTimeModel(QObject* sender);
    // The earthquake whose context the traces show: the one picked, or while monitoring the
    // newest in the window drawn.
    std::optional<SeismicOrigin> originShown() const;
    // Looking closer and keeping what is on screen.
    void setAmplitudeMode(QObject* sender);
    void followNow(QObject* sender = nullptr);
    void toggleFullScreen(QObject* sender = nullptr);
    void showSystemLogWindow(QObject* sender = nullptr);
    void inspectTrace(int index);
    void saveImage(QObject* sender = nullptr); // asks where, then writeImage
    void copyImage(QObject* sender = nullptr);
    void saveSeismograms(QObject* sender = nullptr); // asks where, then writeSeismograms
    // The seismogram view as drawn now, at a size of one's choice.
    QImage seismogramImage(QSize size);
    // PNG or SVG by the file's extension; false (and why) when it cannot be written.
    bool writeImage(const QString& path, QSize size, QString* why = nullptr);
    // Every trace on screen as SAC files in folder/processed and folder/raw, named
    // NET.STA.LOC.CHA.<first sample, UTC>.sac; false (and why) when one cannot be written.
    bool writeSeismograms(const QString& folder, QString* why = nullptr);
    TraceInspector* traceInspector() const { return inspector_.get(); }
    // Runs one monitor cycle on the list titled `list` (or the one loaded at start), draws the
    // view into `path` and calls `done` with 0, or 1 (and why, on standard error).
    void takeSnapshot(const QString& path, QSize size, const std::optional<QString>& list,
                      std::function<void(int exitCode)> done);
    // Shows SAC and miniSEED files as a typed window over their span, one row per channel, read
    // off this thread; `done` gets whether anything could be shown.
    void openSeismogramFiles(const QStringList& paths, std::function<void(bool shown)> done = {});
    void chooseSeismogramFiles(QObject* sender = nullptr);

    // The helicorder: one channel of the list on a drum.
    void showHelicorderWindow(QObject* sender = nullptr);
    void startHelicorder();
    // Fetches what is new, and moves the drum on when a new row has begun (its timer's tick).
    void refreshHelicorder();
    HelicorderView* helicorderView() const;
    // Nothing fetched or processed for the drum any more.
    bool helicorderSettled() const;
    // The drum as drawn now, as a PNG at the size given.
    bool writeHelicorderImage(const QString& path, QSize size, QString* why = nullptr);
    void saveHelicorderImage(QObject* sender = nullptr);
    // Fills the drum for the channel and writes it to `path` once all has arrived; as takeSnapshot.
    void takeHelicorderSnapshot(const QString& path, QSize size, const ChannelId& channel,
                                std::function<void(int exitCode)> done);
    // A span of time opened in the seismogram window as a typed window.
    void openSpanInSeismogramWindow(Date from, Date to);

    // Earthquake list.
    void showEventListWindow(QObject* sender = nullptr);
    void loadNEICInfo(QObject* sender = nullptr);
    void loadNEICEventPage(QObject* sender = nullptr);
    void openGoogleMaps(QObject* sender = nullptr);

    // History log.
    void appendToHistory(const QString& message);
    void markHistory(QObject* sender = nullptr);
    void clearHistory(QObject* sender = nullptr);
    void tamsyStatus(QObject* sender = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyFrame(const std::shared_ptr<const SessionFrame>& frame);
    void connectSession();
    // Hands the session what the settings say now: services, transfers, processing, source.
    void configureSession();
    ChannelTable channelTable() const;
    void setChannelTable(ChannelTable table); // the five lists at once
    // The line the empty view shows before the first retrieval.
    void updateGuidance();
    // The Monitor pop-up shows the length the settings ask for.
    void syncMonitorPopUp();
    void updateFollowNow();
    // Station coordinates from the traces' headers and, for the rest, the station service.
    void locateStations();
    // Distances, predicted arrivals and the order of the traces, for the earthquake shown.
    void updateTraceContext();
    QString travelTimeModel() const; // the one chosen for the arrivals
    void continueTick();
    void setUpHelicorder();
    void fillHelicorderChannels();
    void updateHelicorderMarks();
    void bindSettingsToControls();
    QString channelListDirectory() const;

    UserDefaults defaults_;
    std::unique_ptr<SettingsReader> settings_; // reads, checks and binds the settings
    Outlets o_;
    ActionControls actions_;
    HttpOptions http_;

    std::shared_ptr<QStringList> theNetworks_, theStations_, theChannels_, theChannelCodes_,
        theLabels_;
    std::shared_ptr<WaveformList> theWaveforms_;
    std::shared_ptr<ChannelList> availableChannels_;
    std::shared_ptr<QVariantList> stationObjects_;
    std::shared_ptr<NEIC_QueryController> neicQueryController_;
    std::unique_ptr<QTimer> theSeismgrmUpdateTimer_;
    std::shared_ptr<QString> supportDirectory_;

    // Declared in the order they depend on each other; they go in the reverse one.
    std::unique_ptr<MonitorSession> session_;
    std::unique_ptr<TraceList> traces_;         // what the seismogram view draws, row by row
    std::shared_ptr<const SessionFrame> frame_; // the frame shown last
    std::unique_ptr<Background> finder_;
    std::unique_ptr<TraceInspector> inspector_;
    bool retrievedOnce_ = false;
    std::unique_ptr<StationPlaces> places_; // where the stations stand, "NET.STA"
    std::unique_ptr<DrumSession> drum_;
    std::optional<SeismicOrigin> eventOrigin_;
    bool sortByDistance_ = false;
    bool inline_ = false;
    // The channel list as loaded, before the text view rewrote its line breaks and blanks; gone
    // once the user edits the view.
    std::optional<QString> channelListText_;
    bool fillingChannelList_ = false;
    bool tickWaitingForCatalogue_ = false;
};
