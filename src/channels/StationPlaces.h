#pragma once

#include "base/Background.h"
#include "channels/StationInventory.h"
#include "net/HttpClient.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class SacObject;

// Where the stations stand, keyed "NET.STA": learnt from the answers' headers, and for the rest
// asked of the station service, once per station while the program runs, off the GUI thread.
class StationPlaces : public QObject {
    Q_OBJECT
public:
    explicit StationPlaces(QObject* parent = nullptr);

    void setInline(bool on) { lookup_.setInline(on); }
    void learn(const QString& station, inventory::StationPlace place);
    std::optional<inventory::StationPlace> place(const QString& station) const;
    // "NET.STA" as a trace's header names it; empty when it names none.
    static QString keyOf(const SacObject* trace);
    // Learns the places the traces' headers carry (sane ones only) and gives every trace's
    // station key, for locate().
    QStringList learnFromHeaders(const std::vector<std::unique_ptr<SacObject>>& traces);
    const QHash<QString, inventory::StationPlace>& all() const { return places_; }
    // Asks for those of `stations` neither known nor asked before; a lookup under way is
    // abandoned for the new one.
    void locate(const QStringList& stations, const QString& serviceBase,
                const HttpOptions& options);
    bool busy() const { return lookup_.isRunning(); }
    void cancel() { lookup_.cancel(); }

Q_SIGNALS:
    // A lookup ended; `learnt` says whether it placed any station.
    void located(bool learnt);

private:
    QHash<QString, inventory::StationPlace> places_;
    QSet<QString> asked_;
    Background lookup_;
};
