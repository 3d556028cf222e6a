#pragma once

#include <QString>

#include <optional>

class QComboBox;
class QObject;
struct Outlets;
struct WindowRequest;

// The controls that show the monitor: its length pop-up and whether it runs.
namespace monitorcontrols {

// Shows `minutes` in the length pop-up; a length the presets lack gets an item of its own, which
// goes again once another is shown.
void showLength(QComboBox* popup, int minutes);
// The length chosen in a pop-up (its item's minutes), if `sender` is one and the length is sane.
std::optional<int> chosenLength(const QObject* sender, int most);
// The Start/Stop button, the monitor's indicator and (once stopped) the network progress.
void showRunning(const Outlets& o, bool running);
// The window's times in the fields that show them, the kind of window in its pair of buttons,
// and a title when one is given.
void showWindowTimes(const Outlets& o, const WindowRequest& window,
                     const std::optional<QString>& title = {});

} // namespace monitorcontrols
