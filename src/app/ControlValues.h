#pragma once

class QObject;
class QLineEdit;
class QPlainTextEdit;
class QString;
class QTableView;

// Reading a control the way the operations expect.

// A two-state control's state: 1 on, 0 off, -1 mixed (a partly checked box). Only 1 counts as on.
int controlState(const QObject* control);
inline bool isOn(const QObject* control) {
    return controlState(control) == 1;
}

// A control's real value: a slider's or spin box's value, a text field's floatValue; 0 otherwise.
float controlFloatValue(const QObject* control);

// A text field's intValue / floatValue; 0 for no field.
int fieldIntValue(const QLineEdit* field);
float fieldFloatValue(const QLineEdit* field);

// The first selected row of a table, or -1.
int selectedRow(const QTableView* table);

// Appends a line to a log view and brings its end into view.
void appendLine(QPlainTextEdit* log, const QString& text);

// A text field's text; empty for no field.
QString fieldText(const QLineEdit* field);

// A text view's text as typed, no-break spaces and all; empty for no view.
QString typedText(const QPlainTextEdit* view);
