#pragma once

#include "acquisition/MonitorSession.h"

#include <QString>
#include <QStringList>

#include <functional>

class QComboBox;
class UserDefaults;

// The "liveProcessing" setting: how the SeedLink stream's rows are processed, "causal" (the
// default: each record through a causal chain as it arrives) or "window" (the window chain over
// the whole window).
namespace livechoice {

inline constexpr char kKey[] = "liveProcessing";

// The stored values, the default first.
QStringList choices();
MonitorSession::LiveProcessing liveOf(const QString& stored);
// Shows the stored choice in the pop-up (its items in the order of choices()), stores every
// choice applied there and then calls `applied`.
void bind(QComboBox* popUp, UserDefaults& defaults, std::function<void()> applied);

} // namespace livechoice
