#include "components/catalog/EventCatalogSource.h"

#include "components/catalog/FdsnEventText.h"

EventCatalogSource::EventCatalogSource(QObject* parent) : QObject(parent) {}

CatalogLoad EventCatalogSource::fetch(const QString& url, const HttpOptions& options) {
    CatalogLoad out;
    out.url = url;
    const auto response = httpGet(url, options, &out.why);
    if (!response)
        return out;
    if (response->status == 204) {
        out.origins.emplace(); // the FDSN answer for "no event matches": an empty list
        return out;
    }
    if (response->status != 200) {
        out.why = QStringLiteral("HTTP status %1").arg(response->status);
        return out;
    }
    out.origins = parseEventText(response->body, &out.skippedLines);
    if (!out.origins)
        out.why = QStringLiteral("the response is not an earthquake list");
    return out;
}

void EventCatalogSource::load(const QString& url, const HttpOptions& options) {
    background_.run(
        [url, options](const std::atomic<bool>& cancelled) {
            HttpOptions o = options;
            o.cancel = &cancelled;
            return fetch(url, o);
        },
        [this](CatalogLoad load) { Q_EMIT loaded(load); });
}
