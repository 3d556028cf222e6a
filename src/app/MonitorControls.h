#pragma once

#include <optional>

class QComboBox;
class QObject;
struct Outlets;

// The controls that show the monitor: its length pop-up and whether it runs.
namespace monitorcontrols {

// Shows `minutes` in the length pop-up; a length the presets lack gets an item of its own, which
// goes again once another is shown.
void showLength(QComboBox* popup, int minutes);
// The length chosen in a pop-up (its item's minutes), if `sender` is one and the length is sane.
std::optional<int> chosenLength(const QObject* sender, int most);
// The Start/Stop button, the monitor's indicator and (once stopped) the network progress.
void showRunning(const Outlets& o, bool running);

} // namespace monitorcontrols
