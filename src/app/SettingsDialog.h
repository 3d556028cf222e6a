#pragma once

#include <QDialog>
#include <QHash>
#include <QString>

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLineEdit;
class QPlainTextEdit;
class QShowEvent;

// Window → Settings: the settings as a dialog whose edits wait for Apply or OK.
//
// The program reads hidden twins of the form's fields, check boxes and pop-ups, which hold the
// values last applied, so an edit half made never reaches a retrieval. Apply hands each changed
// value to its twin as the user's own edit (so it is stored and acted on as it always was), OK
// applies and closes, Cancel, Escape or closing the window drop what was not applied. The
// channel list's view and its saved-list pop-up are the program's own controls: Apply uses the
// list when its text changed, Cancel puts back the text and the choice the dialog opened with.
class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit SettingsDialog(QWidget* parent = nullptr);
    ~SettingsDialog() override;

    // Once the form's widgets exist: every line edit, check box and pop-up of the form but the
    // list's own two controls gets its twin, and the buttons are wired.
    void adopt(QDialogButtonBox* buttons, QPlainTextEdit* listView, QComboBox* listPopUp);
    // Fields that show "off" when their value reads 0 or below (a filter corner).
    void showOffAtOrBelowZero(const std::vector<QLineEdit*>& editors);

    // The twin the program works with, for a control of the form.
    QLineEdit* applied(QLineEdit* editor) const;
    QCheckBox* applied(QCheckBox* editor) const;
    QComboBox* applied(QComboBox* editor) const;

    bool hasUnappliedEdits() const;

public Q_SLOTS:
    void apply();
    void accept() override;
    void reject() override;

Q_SIGNALS:
    // Apply found the channel list's text changed since the dialog opened or last applied.
    void channelListApplied();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The form as the twins and the list stand now; nothing counts as edited afterwards.
    void load();
    void updateButtons();
    QString shownText(const QLineEdit* editor) const;

    struct Field {
        QLineEdit* editor;
        QLineEdit* twin;
        bool offAtOrBelowZero = false;
        QString shown; // what load() put in the editor
    };
    struct Box {
        QCheckBox* editor;
        QCheckBox* twin;
    };
    struct PopUp {
        QComboBox* editor;
        QComboBox* twin;
    };

    std::unique_ptr<QWidget> twins_; // never shown
    std::vector<Field> fields_;
    std::vector<Box> boxes_;
    std::vector<PopUp> popUps_;
    QDialogButtonBox* buttons_ = nullptr;
    QPlainTextEdit* listView_ = nullptr;
    QComboBox* listPopUp_ = nullptr;
    QString listText_, listChoice_; // as the dialog opened or last applied
    bool loading_ = false;
};
