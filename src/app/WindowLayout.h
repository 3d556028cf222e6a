#pragma once

#include "app/Outlets.h"

#include <memory>

class QMainWindow;

// The six windows of the application, built from their Designer files, with every control
// handed out by name.
class WindowLayout {
public:
    WindowLayout();
    ~WindowLayout();
    WindowLayout(const WindowLayout&) = delete;
    WindowLayout& operator=(const WindowLayout&) = delete;

    const Outlets& outlets() const { return outlets_; }
    const ActionControls& actions() const { return actions_; }
    QMainWindow* seismogramWindow() const;
    QWidget* aboutWindow() const;

private:
    struct Forms;
    std::unique_ptr<Forms> forms_;
    Outlets outlets_;
    ActionControls actions_;
};
