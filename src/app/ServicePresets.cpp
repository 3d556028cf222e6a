#include "app/ServicePresets.h"

#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QSet>
#include <QUrl>
#include <QWidget>

// The presets file is compiled into the static core library; its resource must be registered
// (outside any namespace, as Q_INIT_RESOURCE requires).
static void registerPresetsResource() {
    Q_INIT_RESOURCE(presets);
}

namespace servicepresets {

namespace {

bool isWebAddress(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
           !url.host().isEmpty();
}

QString hostOf(const QString& address) {
    return QUrl(address.trimmed()).host().toLower();
}

} // namespace

std::optional<std::vector<Preset>> parse(const QByteArray& json, QString* why) {
    auto fail = [why](const QString& reason) -> std::optional<std::vector<Preset>> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return fail(error.errorString());
    const QJsonValue list = doc.object().value(QStringLiteral("presets"));
    if (!list.isArray() || list.toArray().isEmpty())
        return fail(QStringLiteral("no list of presets"));
    std::vector<Preset> out;
    QSet<QString> names;
    for (const QJsonValue& v : list.toArray()) {
        const QJsonObject o = v.toObject();
        Preset p{o.value(QStringLiteral("name")).toString().trimmed(),
                 o.value(QStringLiteral("waveform")).toString().trimmed(),
                 o.value(QStringLiteral("timeSeriesService")).toString(),
                 o.value(QStringLiteral("station")).toString().trimmed(),
                 o.value(QStringLiteral("event")).toString().trimmed(),
                 o.value(QStringLiteral("eventPages")).toBool(false),
                 o.value(QStringLiteral("seedLink")).toString().trimmed()};
        if (p.name.isEmpty() || p.name == u"Custom")
            return fail(QStringLiteral("a preset without a name of its own"));
        if (names.contains(p.name))
            return fail(QStringLiteral("two presets named %1").arg(p.name));
        names.insert(p.name);
        for (const QString* address : {&p.waveform, &p.station, &p.event})
            if (!isWebAddress(*address))
                return fail(QStringLiteral("%1: '%2' is no web address").arg(p.name, *address));
        if (p.timeSeriesService != u"irisTimeSeries" && p.timeSeriesService != u"fdsnDataselect")
            return fail(QStringLiteral("%1: no known kind of waveform service").arg(p.name));
        if (!p.seedLink.isEmpty() && !p.seedLink.contains(u':'))
            return fail(QStringLiteral("%1: the SeedLink server needs its port").arg(p.name));
        out.push_back(std::move(p));
    }
    return out;
}

const std::vector<Preset>& builtIn() {
    static const std::vector<Preset> presets = [] {
        registerPresetsResource();
        QFile file(QStringLiteral(":/presets/presets.json"));
        if (!file.open(QIODevice::ReadOnly))
            return std::vector<Preset>{};
        return parse(file.readAll()).value_or(std::vector<Preset>{});
    }();
    return presets;
}

bool hasEventPages(const QString& eventBase) {
    const QString host = hostOf(eventBase);
    bool known = false;
    for (const Preset& p : builtIn()) {
        if (hostOf(p.event) != host)
            continue;
        if (p.eventPages)
            return true;
        known = true;
    }
    return !known;
}

void bind(QComboBox* popUp, const Editors& e) {
    if (!popUp)
        return;
    popUp->clear();
    for (const Preset& p : builtIn())
        popUp->addItem(p.name);
    popUp->addItem(QStringLiteral("Custom"));
    popUp->setCurrentIndex(popUp->count() - 1);
    QObject::connect(popUp, &QComboBox::activated, popUp, [e](int index) {
        const auto& presets = builtIn();
        if (index < 0 || static_cast<std::size_t>(index) >= presets.size())
            return; // Custom: the addresses stay as they are
        const Preset& p = presets[static_cast<std::size_t>(index)];
        if (e.waveform)
            e.waveform->setText(p.waveform);
        if (e.timeSeriesService)
            e.timeSeriesService->setCurrentIndex(p.timeSeriesService == u"fdsnDataselect" ? 1 : 0);
        if (e.station)
            e.station->setText(p.station);
        if (e.event)
            e.event->setText(p.event);
        if (e.seedLink && !p.seedLink.isEmpty())
            e.seedLink->setText(p.seedLink);
    });
    // An address typed by hand is no preset's any more.
    for (QLineEdit* field : {e.waveform, e.station, e.event, e.seedLink})
        if (field)
            QObject::connect(field, &QLineEdit::textEdited, popUp,
                             [popUp] { popUp->setCurrentIndex(popUp->count() - 1); });
}

void bindEventPageButton(QWidget* button, QLineEdit* eventField) {
    if (!button || !eventField)
        return;
    const auto update = [button, eventField] {
        button->setVisible(hasEventPages(eventField->text()));
    };
    update();
    QObject::connect(eventField, &QLineEdit::textChanged, button, update);
}

} // namespace servicepresets
