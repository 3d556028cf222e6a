#include "app/SaveImageDialog.h"

#include "app/ExportFailure.h"
#include "app/ImageExport.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

namespace {

QSpinBox* pixels(QWidget* parent, const QString& name, const QString& tip) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(16, 16384); // as --size allows
    box->setSuffix(QObject::tr(" px"));
    box->setToolTip(tip);
    return box;
}

} // namespace

SaveImageDialog::SaveImageDialog(QWidget* parent, const QString& caption,
                                 const QString& suggestedPath, QSize size)
    : QFileDialog(parent, caption),
      width_(pixels(this, QStringLiteral("imageWidthBox"), tr("Width of the picture in pixels"))),
      height_(
          pixels(this, QStringLiteral("imageHeightBox"), tr("Height of the picture in pixels"))) {
    setObjectName(QStringLiteral("saveImageDialog"));
    // The platform's own dialog cannot take the size fields.
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setNameFilter(imageexport::nameFilters());
    connect(this, &QFileDialog::filterSelected, this, &SaveImageDialog::useFilterSuffix);
    if (const auto f = imageexport::formatOf(suggestedPath)) {
        for (const QString& filter : nameFilters())
            if (imageexport::formatOfFilter(filter) == f)
                selectNameFilter(filter);
    }
    useFilterSuffix();
    selectFile(suggestedPath);
    setImageSize(size);

    auto* row = new QWidget(this);
    auto* sizeLayout = new QHBoxLayout(row);
    sizeLayout->setContentsMargins(0, 0, 0, 0);
    sizeLayout->addWidget(width_);
    sizeLayout->addWidget(new QLabel(QStringLiteral("\u00d7"), row));
    sizeLayout->addWidget(height_);
    sizeLayout->addStretch(1);
    auto* label = new QLabel(tr("Size:"), this);
    label->setBuddy(width_);
    // Below the file type row of Qt's own dialog, whose layout is a grid.
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        const int r = grid->rowCount();
        grid->addWidget(label, r, 0);
        grid->addWidget(row, r, 1);
    } else if (layout()) {
        layout()->addWidget(label);
        layout()->addWidget(row);
    }
}

void SaveImageDialog::useFilterSuffix() {
    // The dialog adds the chosen filter's extension itself, so it asks before replacing the
    // very file that will be written.
    setDefaultSuffix(imageexport::extensionOf(
        imageexport::formatOfFilter(selectedNameFilter()).value_or(imageexport::Format::Png)));
}

void SaveImageDialog::accept() {
    useFilterSuffix(); // the filter may have been chosen without the signal (by code)
    QFileDialog::accept();
}

void SaveImageDialog::setImageSize(QSize size) {
    width_->setValue(size.width());
    height_->setValue(size.height());
}

QSize SaveImageDialog::imageSize() const {
    return {width_->value(), height_->value()};
}

QString SaveImageDialog::chosenPath() const {
    const QStringList files = selectedFiles();
    return files.isEmpty() ? QString() : imageexport::pathFor(files.front(), selectedNameFilter());
}

void SaveImageDialog::ask(QWidget* parent, const QString& caption, const QString& suggestedPath,
                          QSize size, const QString& failure, const Write& write) {
    SaveImageDialog dialog(parent, caption, suggestedPath, size);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString why;
    if (!write(dialog.chosenPath(), dialog.imageSize(), &why))
        reportExportFailure(parent, failure, why);
}
