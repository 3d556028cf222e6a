#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

class QComboBox;
class QLineEdit;
class QWidget;

// Well-known data centres, from the presets file built into the application: the base
// addresses of their waveform, station and event services and their SeedLink server, offered in
// Settings → Services.
namespace servicepresets {

struct Preset {
    QString name;
    QString waveform, timeSeriesService, station, event;
    bool eventPages = false;
    QString seedLink; // empty: the centre runs none
};

// The presets of a file's text; nothing, and why, when it is not one: every entry needs a name
// and the three service addresses (http or https), a known kind of waveform service, and no
// two entries share a name.
std::optional<std::vector<Preset>> parse(const QByteArray& json, QString* why = nullptr);

// The presets built in.
const std::vector<Preset>& builtIn();

// Whether the event service at `eventBase` has a page per earthquake: a centre's event service
// in the presets says; any other address is given the benefit of the doubt.
bool hasEventPages(const QString& eventBase);

// The editors a preset fills.
struct Editors {
    QLineEdit* waveform = nullptr;
    QComboBox* timeSeriesService = nullptr; // items in the order of the service kinds
    QLineEdit* station = nullptr;
    QLineEdit* event = nullptr;
    QLineEdit* seedLink = nullptr;
};
// Lists the presets and a last "Custom" entry in the pop-up; choosing a preset fills the
// editors (the SeedLink server only where the centre runs one), editing an address by hand shows
// "Custom" again.
void bind(QComboBox* popUp, const Editors& editors);

// Hides `button` (the event page link) whenever `eventField` names an event service without
// pages.
void bindEventPageButton(QWidget* button, QLineEdit* eventField);

} // namespace servicepresets
