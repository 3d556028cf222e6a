#pragma once

#include <QWidget>

#include <functional>

class DrumSession;
class HelicorderView;
class SettingsReader;
class UserDefaults;
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

    // Draws what the drum hands over (rows, blocks, scale, marks, status). Each control starts
    // from its stored setting and stores the user's change; `refill` runs when the change needs
    // the drum filled again (channel, span, row length).
    void follow(DrumSession& drum, UserDefaults& defaults, const SettingsReader& settings,
                std::function<void()> refill);
    // The channels offered, each once in the order given; the one shown stays when still
    // offered, else `preferred`, else the first.
    void offerChannels(const QStringList& seedIds, const QString& preferred);
    // Shows `seedId` as the chosen channel, offered as well when it was not.
    void choose(const QString& seedId);
    // The drum as drawn now, at `size`, in the format the name gives; false (and why) when it
    // cannot be written. saveImage asks where first (the Save Image button).
    bool writeImage(const QString& path, QSize size, QString* why) const;
    void saveImage();

    QComboBox* channelPopUp;
    QSpinBox* hoursBox;
    QComboBox* rowMinutesPopUp; // items tagged with their minutes
    QSlider* gainSlider;        // 25 is gain 1
    QCheckBox* clipBox;
    QPushButton* saveButton;
    QLabel* statusLabel;
    HelicorderView* view;
};
