#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

// Ends the event loop cleanly when one of the given Unix signals arrives: the handler only
// writes a byte to a socket pair, and the event loop reads it and quits.
class QuitOnSignal : public QObject {
    Q_OBJECT
public:
    explicit QuitOnSignal(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~QuitOnSignal() override;

private:
    QSocketNotifier* notifier_ = nullptr;
};
