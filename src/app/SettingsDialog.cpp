#include "app/SettingsDialog.h"

#include "base/NumberReading.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>

namespace {

bool readsOff(const QString& text) {
    const QString t = text.trimmed();
    return t.isEmpty() || t.compare(QStringLiteral("off"), Qt::CaseInsensitive) == 0;
}

} // namespace

SettingsDialog::SettingsDialog(QWidget* parent)
    : QDialog(parent), twins_(std::make_unique<QWidget>()) {
    twins_->setObjectName(QStringLiteral("appliedSettings"));
    setSizeGripEnabled(true);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::adopt(QDialogButtonBox* buttons, QPlainTextEdit* listView,
                           QComboBox* listPopUp) {
    buttons_ = buttons;
    listView_ = listView;
    listPopUp_ = listPopUp;
    for (QLineEdit* editor : findChildren<QLineEdit*>()) {
        // A pop-up's or spin box's own line edit is part of that control.
        if (qobject_cast<QComboBox*>(editor->parent()) ||
            qobject_cast<QAbstractSpinBox*>(editor->parent()))
            continue;
        auto* twin = new QLineEdit(editor->text(), twins_.get());
        twin->setObjectName(editor->objectName());
        fields_.push_back({editor, twin, false, editor->text()});
        connect(editor, &QLineEdit::textChanged, this, &SettingsDialog::updateButtons);
    }
    for (QCheckBox* editor : findChildren<QCheckBox*>()) {
        auto* twin = new QCheckBox(editor->text(), twins_.get());
        twin->setObjectName(editor->objectName());
        twin->setChecked(editor->isChecked());
        boxes_.push_back({editor, twin});
        connect(editor, &QCheckBox::toggled, this, &SettingsDialog::updateButtons);
    }
    for (QComboBox* editor : findChildren<QComboBox*>()) {
        if (editor == listPopUp)
            continue;
        auto* twin = new QComboBox(twins_.get());
        twin->setObjectName(editor->objectName());
        for (int i = 0; i < editor->count(); ++i)
            twin->addItem(editor->itemText(i), editor->itemData(i));
        twin->setCurrentIndex(editor->currentIndex());
        popUps_.push_back({editor, twin});
        connect(editor, &QComboBox::currentIndexChanged, this, &SettingsDialog::updateButtons);
    }
    if (listView_)
        connect(listView_, &QPlainTextEdit::textChanged, this, &SettingsDialog::updateButtons);
    if (buttons_) {
        connect(buttons_, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
        connect(buttons_, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
        if (QPushButton* applyButton = buttons_->button(QDialogButtonBox::Apply))
            connect(applyButton, &QPushButton::clicked, this, &SettingsDialog::apply);
    }
    load();
}

void SettingsDialog::showOffAtOrBelowZero(const std::vector<QLineEdit*>& editors) {
    for (Field& f : fields_)
        if (std::find(editors.begin(), editors.end(), f.editor) != editors.end())
            f.offAtOrBelowZero = true;
    load();
}

template <class List, class Editor>
static auto twinOf(const List& list, Editor* editor) -> decltype(list.front().twin) {
    for (const auto& entry : list)
        if (entry.editor == editor)
            return entry.twin;
    return nullptr;
}

QLineEdit* SettingsDialog::applied(QLineEdit* editor) const {
    return twinOf(fields_, editor);
}
QCheckBox* SettingsDialog::applied(QCheckBox* editor) const {
    return twinOf(boxes_, editor);
}
QComboBox* SettingsDialog::applied(QComboBox* editor) const {
    return editor == listPopUp_ ? editor : twinOf(popUps_, editor);
}

QString SettingsDialog::shownText(const QLineEdit* editor) const {
    for (const Field& f : fields_)
        if (f.editor == editor)
            // A corner that is no positive number leaves its filter out, whatever was typed.
            return f.offAtOrBelowZero && !(floatValue(f.twin->text()) > 0) ? QStringLiteral("off")
                                                                           : f.twin->text();
    return {};
}

void SettingsDialog::load() {
    loading_ = true;
    for (Field& f : fields_) {
        f.shown = shownText(f.editor);
        f.editor->setText(f.shown);
        f.editor->setCursorPosition(0);
    }
    for (const Box& b : boxes_)
        b.editor->setChecked(b.twin->isChecked());
    for (const PopUp& p : popUps_)
        p.editor->setCurrentIndex(p.twin->currentIndex());
    listText_ = listView_ ? listView_->toPlainText() : QString();
    listChoice_ = listPopUp_ ? listPopUp_->currentText() : QString();
    loading_ = false;
    updateButtons();
}

bool SettingsDialog::hasUnappliedEdits() const {
    return std::any_of(fields_.begin(), fields_.end(),
                       [](const Field& f) { return f.editor->text() != f.shown; }) ||
           std::any_of(boxes_.begin(), boxes_.end(),
                       [](const Box& b) { return b.editor->isChecked() != b.twin->isChecked(); }) ||
           std::any_of(
               popUps_.begin(), popUps_.end(),
               [](const PopUp& p) { return p.editor->currentIndex() != p.twin->currentIndex(); }) ||
           (listView_ && listView_->toPlainText() != listText_);
}

void SettingsDialog::updateButtons() {
    if (loading_ || !buttons_)
        return;
    if (QPushButton* applyButton = buttons_->button(QDialogButtonBox::Apply))
        applyButton->setEnabled(hasUnappliedEdits());
}

void SettingsDialog::apply() {
    // Each change reaches its twin the way a user's edit reaches a control, so whatever listens
    // there (the settings store, the operations) hears it as before.
    for (const Field& f : fields_) {
        if (f.editor->text() == f.shown)
            continue;
        const QString text = f.offAtOrBelowZero && readsOff(f.editor->text()) ? QStringLiteral("0")
                                                                              : f.editor->text();
        f.twin->setText(text);
        Q_EMIT f.twin->textEdited(text);
    }
    for (const Box& b : boxes_)
        if (b.editor->isChecked() != b.twin->isChecked())
            b.twin->click();
    for (const PopUp& p : popUps_) {
        const int index = p.editor->currentIndex();
        if (index != p.twin->currentIndex()) {
            p.twin->setCurrentIndex(index);
            Q_EMIT p.twin->activated(index);
        }
    }
    if (listView_ && listView_->toPlainText() != listText_)
        Q_EMIT channelListApplied();
    load();
}

void SettingsDialog::accept() {
    apply();
    QDialog::accept();
}

void SettingsDialog::reject() {
    if (listView_ && listView_->toPlainText() != listText_)
        listView_->setPlainText(listText_);
    if (listPopUp_ && listPopUp_->currentText() != listChoice_)
        listPopUp_->setCurrentIndex(listChoice_.isEmpty() ? -1 : listPopUp_->findText(listChoice_));
    load();
    QDialog::reject();
}

void SettingsDialog::showEvent(QShowEvent* event) {
    // Opened afresh: the form shows what is in use now.
    if (!event->spontaneous())
        load();
    QDialog::showEvent(event);
}
