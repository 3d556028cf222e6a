#include "app/HelicorderWindow.h"

#include "components/HelicorderView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
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
