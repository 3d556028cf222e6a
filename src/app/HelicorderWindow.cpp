#include "app/HelicorderWindow.h"

#include "app/ImageExport.h"
#include "app/SaveImageDialog.h"
#include "app/SettingsReader.h"
#include "app/UserDefaults.h"
#include "components/HelicorderView.h"
#include "display/DrumSession.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSet>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

HelicorderWindow::HelicorderWindow(QWidget* parent)
    : QWidget(parent), channelPopUp(new QComboBox(this)), hoursBox(new QSpinBox(this)),
      rowMinutesPopUp(new QComboBox(this)), gainSlider(new QSlider(Qt::Horizontal, this)),
      clipBox(new QCheckBox(tr("Clip at the row spacing"), this)),
      saveButton(new QPushButton(tr("Save Image..."), this)), statusLabel(new QLabel(this)),
      view(new HelicorderView(this)) {
    setObjectName(QStringLiteral("helicorderWindow"));
    setWindowTitle(tr("Groundsway Helicorder"));
    resize(1200, 860);
    channelPopUp->setObjectName(QStringLiteral("helicorderChannelPopUp"));
    channelPopUp->setToolTip(tr("The channel of the list drawn on the drum"));
    channelPopUp->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    hoursBox->setRange(1, 48);
    hoursBox->setSuffix(tr(" h"));
    hoursBox->setToolTip(tr("How many hours the drum holds, newest row at the bottom"));
    for (const int minutes : {10, 15, 30, 60})
        rowMinutesPopUp->addItem(tr("%1 min").arg(minutes), minutes);
    rowMinutesPopUp->setToolTip(tr("The time one row covers"));
    gainSlider->setRange(1, 250);
    gainSlider->setValue(25);
    gainSlider->setMaximumWidth(220);
    gainSlider->setToolTip(tr("Trace amplitude: 25 is gain 1"));
    clipBox->setToolTip(tr("Cut the traces where they would reach the next row's line"));
    saveButton->setToolTip(tr("Write the drum as a PNG, JPEG or SVG picture"));
    statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(tr("Channel"), this));
    controls->addWidget(channelPopUp);
    controls->addWidget(new QLabel(tr("Span"), this));
    controls->addWidget(hoursBox);
    controls->addWidget(new QLabel(tr("Rows of"), this));
    controls->addWidget(rowMinutesPopUp);
    controls->addWidget(new QLabel(tr("Gain"), this));
    controls->addWidget(gainSlider);
    controls->addWidget(clipBox);
    controls->addStretch(1);
    controls->addWidget(saveButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(view, 1);
    layout->addWidget(statusLabel);
}

HelicorderWindow::~HelicorderWindow() = default;

void HelicorderWindow::follow(DrumSession& drum, UserDefaults& defaults,
                              const SettingsReader& settings, std::function<void()> refill) {
    hoursBox->setValue(settings.whole("helicorderHours", 1, 48, 24));
    const int minutes = settings.whole("helicorderRowMinutes", 1, 60, 30);
    rowMinutesPopUp->setCurrentIndex(std::max(0, rowMinutesPopUp->findData(minutes)));
    gainSlider->setValue(settings.whole("helicorderGain", 1, 250, 25));
    clipBox->setChecked(defaults.boolForKey(QStringLiteral("helicorderClip")));
    view->setGain(gainSlider->value() / 25.0);
    view->setClip(clipBox->isChecked());

    HelicorderView* v = view;
    connect(&drum, &DrumSession::rowsChanged, v, [v](const DrumRows& rows, const QString& title) {
        v->setRows(rows);
        v->setTitle(title);
    });
    connect(&drum, &DrumSession::placeholderChanged, v, &HelicorderView::setPlaceholder);
    connect(&drum, &DrumSession::cleared, v, &HelicorderView::clearBlocks);
    connect(&drum, &DrumSession::blockReady, v, &HelicorderView::setBlock);
    connect(&drum, &DrumSession::blocksDroppedBefore, v, &HelicorderView::dropBlocksBefore);
    connect(&drum, &DrumSession::scaleChanged, v, &HelicorderView::setCommonRms);
    connect(&drum, &DrumSession::marksChanged, v, [v](const std::vector<DrumMark>& marks) {
        std::vector<HelicorderView::Mark> drawn;
        for (const DrumMark& m : marks)
            drawn.push_back({m.when, m.label, m.origin ? QColor(200, 0, 0) : QColor(0, 114, 178)});
        v->setMarks(std::move(drawn));
    });
    connect(&drum, &DrumSession::statusChanged, statusLabel,
            [this, &drum] { statusLabel->setText(drum.status()); });

    UserDefaults* d = &defaults;
    connect(channelPopUp, &QComboBox::activated, this, [this, d, refill] {
        d->setObject(channelPopUp->currentText(), QStringLiteral("helicorderChannel"));
        refill();
    });
    connect(hoursBox, &QSpinBox::valueChanged, this, [d, &drum, refill](int hours) {
        d->setObject(hours, QStringLiteral("helicorderHours"));
        if (drum.active())
            refill();
    });
    connect(rowMinutesPopUp, &QComboBox::activated, this, [this, d, &drum, refill] {
        d->setObject(rowMinutesPopUp->currentData().toInt(),
                     QStringLiteral("helicorderRowMinutes"));
        if (drum.active())
            refill();
    });
    connect(gainSlider, &QSlider::valueChanged, this, [this, d](int value) {
        d->setObject(value, QStringLiteral("helicorderGain"));
        view->setGain(value / 25.0);
    });
    connect(clipBox, &QCheckBox::toggled, this, [this, d](bool on) {
        d->setObject(on, QStringLiteral("helicorderClip"));
        view->setClip(on);
    });
}

void HelicorderWindow::choose(const QString& seedId) {
    if (channelPopUp->findText(seedId) < 0)
        channelPopUp->addItem(seedId);
    channelPopUp->setCurrentIndex(channelPopUp->findText(seedId));
}

bool HelicorderWindow::writeImage(const QString& path, QSize size, QString* why) const {
    HelicorderView* v = view;
    return imageexport::write(
        path, size, [v](QPainter& p, QSize s) { v->render(p, s); }, v->title(), why);
}

void HelicorderWindow::saveImage() {
    SaveImageDialog::ask(
        this, tr("Save Helicorder Image"), QDir::homePath() + QStringLiteral("/helicorder.png"),
        view->size().isValid() ? view->size() : QSize(1600, 1000),
        tr("The helicorder image was not saved"),
        [this](const QString& path, QSize s, QString* why) { return writeImage(path, s, why); });
}

void HelicorderWindow::offerChannels(const QStringList& seedIds, const QString& preferred) {
    const QString current =
        channelPopUp->currentText().isEmpty() ? preferred : channelPopUp->currentText();
    // A set, not a search of the pop-up per channel: long lists stay linear.
    QStringList codes;
    QSet<QString> seen;
    for (const QString& code : seedIds)
        if (!seen.contains(code)) {
            seen.insert(code);
            codes << code;
        }
    channelPopUp->clear();
    channelPopUp->addItems(codes);
    channelPopUp->setCurrentIndex(std::max(0, static_cast<int>(codes.indexOf(current))));
}
