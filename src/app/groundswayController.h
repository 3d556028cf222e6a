#pragma once

#include "acquisition/ChannelRequest.h"
#include "app/Outlets.h"
#include "app/UserDefaults.h"
#include "base/Repeats.h"
#include "channels/StationInventory.h"
#include "components/AvailableChannel.h"
#include "components/SeismicOrigin.h"
#include "net/HttpClient.h"
#include "processing/ProcessingOptions.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
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
struct TimeSpan;
struct ChannelId;
class TraceInspector;
class NEIC_QueryController;
class QLineEdit;
class QTimer;
class RetrievalCycle;
class MonitorSession;
struct SessionFrame;
struct WindowRequest;
class TraceList;
struct ChannelTable;
class SacObject;
class SeedLinkSource;
class SettingsReader;
struct Segment;
class TimeSeriesSource;
class TraceStore;
struct CycleResult;

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
    void setavailableChannels(std::shared_ptr<ChannelList> list);
    const std::shared_ptr<QVariantList>& stationObjects() const { return stationObjects_; }
    void setStationObjects(std::shared_ptr<QVariantList> list);
    const std::shared_ptr<QStringList>& theStations() const { return theStations_; }
    void setTheStations(std::shared_ptr<QStringList> list);
    const std::shared_ptr<QStringList>& theNetworks() const { return theNetworks_; }
    void setTheNetworks(std::shared_ptr<QStringList> list);
    const std::shared_ptr<QStringList>& theLabels() const { return theLabels_; }
    void setTheLabels(std::shared_ptr<QStringList> list);
    const std::shared_ptr<QStringList>& theChannelCodes() const { return theChannelCodes_; }
    void setTheChannelCodes(std::shared_ptr<QStringList> list);
    const std::shared_ptr<QStringList>& theChannels() const { return theChannels_; }
    const std::shared_ptr<QString>& supportDirectory() const { return supportDirectory_; }
    void setSupportDirectory(std::shared_ptr<QString> path);

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
    // The longest monitor or event window, in minutes: 30 days.
    static constexpr double kMaxWindowMinutes = 30 * 24 * 60;
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

    // Transfers, decoding and processing run off the GUI thread, and a retrieval, the catalogue
    // and the channel finder end later than the call that starts them. Inline, each runs to its
    // end before the call returns, in the original strict sequence (the tests rely on it).
    void setInlineAcquisition(bool on);
    bool inlineAcquisition() const { return inline_; }
    // Abandons what is in flight: the running cycle and its transfers, a tick that waits for the
    // catalogue, a channel look-up. What is drawn stays.
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

    // The stream: with the data source "SeedLink stream" chosen, Start fills the monitor window
    // from the time-series service once, then streams from the SeedLink server; the window
    // scrolls with the present and each channel is processed again when new samples arrived.
    void setDataSource(QObject* sender);
    bool streamChosen() const;
    bool streaming() const;
    SeedLinkSource* seedLinkSource() const;
    // Milliseconds from each record's arrival on the socket to the end of the paint that showed
    // it (the newest 100 000), for measuring.
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
    // view at `size` into `path` and calls `done` with the exit code: 0, or 1 with a message on
    // standard error when no trace could be drawn or the image not written.
    void takeSnapshot(const QString& path, QSize size, const std::optional<QString>& list,
                      std::function<void(int exitCode)> done);
    // Shows SAC and miniSEED files as a typed window over their span, one row per channel (File
    // → Open…, a drop, the command line); read off this thread. `done` gets whether anything
    // could be shown. A file that cannot be read is named, with why, in the system log (and a
    // message on a window shown); the others are shown.
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
    // Fills the drum for the channel, writes it to `path` once everything has arrived, and calls
    // `done` with the exit code as takeSnapshot does.
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
    // The window's times (and a title, when given) in the fields that show them.
    void showWindowTimes(const WindowRequest& window, const std::optional<QString>& title = {});
    // The monitor's length in whole minutes as the setting holds it, brought into range.
    int monitorMinutes() const;
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
    // A streamed piece of the helicorder's channel goes onto the drum as well.
    void streamToHelicorder(const Segment& segment);
    void setUpHelicorder();
    void fillHelicorderChannels();
    void updateHelicorderMarks();
    // Settings as the operations read them, each brought into its range.
    HttpOptions transferOptions() const;
    int maxConcurrentDownloads() const;
    void bindSettingsToControls();
    void showWindow(QWidget* window);
    void makeNoFirstResponder(QWidget* window);
    QString channelListDirectory() const;
    // The channel list as typed in its view, no-break spaces and all.
    QString typedChannelList() const;

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
