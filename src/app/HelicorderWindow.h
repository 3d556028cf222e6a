#pragma once

#include <QWidget>

class HelicorderView;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;

// Window → Helicorder: a day (or any span up to two) of one channel of the list on a drum,
// with the channel, the span, the row length, the gain and the clipping above it.
class HelicorderWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelicorderWindow(QWidget* parent = nullptr);
    ~HelicorderWindow() override;

    QComboBox* channelPopUp;
    QSpinBox* hoursBox;
    QComboBox* rowMinutesPopUp; // items tagged with their minutes
    QSlider* gainSlider;        // 25 is gain 1
    QCheckBox* clipBox;
    QPushButton* saveButton;
    QLabel* statusLabel;
    HelicorderView* view;
};
