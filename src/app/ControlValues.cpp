#include "app/ControlValues.h"

#include "base/NumberReading.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTableView>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

int controlState(const QObject* control) {
    if (const auto* box = qobject_cast<const QCheckBox*>(control)) {
        switch (box->checkState()) {
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return -1;
        default:
            return 0;
        }
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(control))
        return button->isCheckable() && button->isChecked() ? 1 : 0;
    if (const auto* action = qobject_cast<const QAction*>(control))
        return action->isCheckable() && action->isChecked() ? 1 : 0;
    return 0;
}

float controlFloatValue(const QObject* control) {
    if (const auto* slider = qobject_cast<const QAbstractSlider*>(control))
        return static_cast<float>(slider->value());
    if (const auto* spin = qobject_cast<const QSpinBox*>(control))
        return static_cast<float>(spin->value());
    if (const auto* spin = qobject_cast<const QDoubleSpinBox*>(control))
        return static_cast<float>(spin->value());
    if (const auto* field = qobject_cast<const QLineEdit*>(control))
        return floatValue(field->text());
    return 0.0f;
}

int fieldIntValue(const QLineEdit* field) {
    return field ? intValue(field->text()) : 0;
}

float fieldFloatValue(const QLineEdit* field) {
    return field ? floatValue(field->text()) : 0.0f;
}

int selectedRow(const QTableView* table) {
    if (!table || !table->selectionModel())
        return -1;
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void appendLine(QPlainTextEdit* log, const QString& text) {
    if (!log)
        return;
    QTextCursor cursor(log->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    cursor.insertText(QStringLiteral("\n"));
    // Bring the end of the log into view: the line of its last character.
    cursor.setPosition(std::max(0, log->document()->characterCount() - 2));
    log->setTextCursor(cursor);
    log->ensureCursorVisible();
    log->viewport()->update();
}

QString fieldText(const QLineEdit* field) {
    return field ? field->text() : QString();
}

QString typedText(const QPlainTextEdit* view) {
    if (!view)
        return {};
    // The document's own text: toPlainText() would make every no-break space a blank. Qt ends
    // each block with a paragraph separator; that is the line feed the user typed.
    QString text = view->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}
