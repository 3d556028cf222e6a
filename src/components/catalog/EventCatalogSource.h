#pragma once

#include "base/Background.h"
#include "components/SeismicOrigin.h"
#include "net/HttpClient.h"

#include <QObject>
#include <QString>

#include <optional>
#include <vector>

// One load of an FDSN event service's text answer.
struct CatalogLoad {
    QString url;
    std::optional<std::vector<SeismicOrigin>> origins; // nothing: the load failed
    QString why;                                       // then, the reason
    int skippedLines = 0;
};

// Fetches and reads a catalogue off the owner's thread (or inline); a new load abandons the one
// in flight.
class EventCatalogSource : public QObject {
    Q_OBJECT
public:
    explicit EventCatalogSource(QObject* parent = nullptr);

    void setInline(bool on) { background_.setInline(on); }
    bool isInline() const { return background_.isInline(); }
    void load(const QString& url, const HttpOptions& options);
    void cancel() { background_.cancel(); }
    bool isLoading() const { return background_.isRunning(); }

    // Blocking; any thread.
    static CatalogLoad fetch(const QString& url, const HttpOptions& options);

Q_SIGNALS:
    void loaded(const CatalogLoad& load);

private:
    Background background_;
};
