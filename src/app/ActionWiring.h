#pragma once

class groundswayController;
struct Outlets;
struct ActionControls;

namespace actionwiring {

// Connects every button, command, pop-up and slider of the windows to the controller's
// operation for it; each control hands itself to its operation as the sender.
void connect(groundswayController& controller, const Outlets& o, const ActionControls& a);

} // namespace actionwiring
