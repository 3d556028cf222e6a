#pragma once

#include "components/SeismicOrigin.h"
#include "components/catalog/EventCatalogSource.h"
#include "net/HttpClient.h"

#include <QAbstractTableModel>
#include <QByteArrayView>
#include <QPointer>

#include <optional>
#include <vector>

class QTableView;

// The recent-earthquake list: it fetches an FDSN event service's text format, holds the origins
// and serves them as the rows of the earthquake table, whose selection it acts on.
class NEIC_QueryController : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        TimeColumn,
        MagnitudeColumn,
        RegionColumn,
        DepthColumn,
        LatitudeColumn,
        LongitudeColumn,
        PlaceColumn,
        ColumnCount
    };

    explicit NEIC_QueryController(QObject* parent = nullptr);

    void setEventTableView(QTableView* view);
    void setMinMagnitude(float magnitude);
    float minMagnitude() const { return minMagnitude_; }
    // Base address (scheme and host) of the event service and of its event pages.
    void setServiceURL(const QString& base);
    // The catalogue may be long (a month of small earthquakes worldwide): up to 64 MiB whatever
    // the options' own bound.
    void setHttpOptions(const HttpOptions& options);

    // Replaces the list with the catalogue's earthquakes of the last 30 days of at least the
    // minimum magnitude, newest first: off the GUI thread, ending with listLoaded (inline, before
    // it returns). An answer of "no event matches" (HTTP 204) empties the list; a failed load
    // keeps it and writes one line to the system log. A new load abandons the one in flight.
    void loadNEIC_TextList();
    void setInline(bool on);
    bool isLoading() const;
    void cancelLoad();
    // The request loadNEIC_TextList sends.
    QString queryURL() const;
    // The minimum magnitude as the query writes it: one decimal, rounded down.
    static QString magnitudeText(float magnitude);

    const std::vector<SeismicOrigin>& seismicOrigins() const { return origins_; }
    const std::vector<SeismicOrigin>* getSeismicOriginsPointer() const { return &origins_; }
    // The earthquake of a row of the list; nothing for no row (-1) or one past the list's end.
    std::optional<SeismicOrigin> originAt(int row) const;

    // Open the selected earthquake's page, or a map at its epicentre; nothing without a selection.
    void loadNeicEventPage();
    void openGoogleMaps();
    QString eventPageURL(const SeismicOrigin& origin) const;
    static QString mapURL(const SeismicOrigin& origin);
    // The selected row of the table, or -1.
    int selectedRow() const;

    // Reads the FDSN event text format. Nothing when the body is no catalogue text (no header
    // and no readable line); lines that cannot be read are skipped and counted.
    static std::optional<std::vector<SeismicOrigin>> parseEventText(QByteArrayView body,
                                                                    int* skippedLines = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    // After every load, whether it replaced the list or failed.
    void listLoaded(bool replaced);

private:
    void applyLoad(const CatalogLoad& load);

    EventCatalogSource* catalog_;
    std::vector<SeismicOrigin> origins_;
    QPointer<QTableView> tableView_;
    float minMagnitude_ = 5.0f;
    QString serviceURL_ = QStringLiteral("https://earthquake.usgs.gov");
    HttpOptions http_;
};
