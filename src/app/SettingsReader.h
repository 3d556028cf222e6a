#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

class QLineEdit;
class QObject;
class UserDefaults;
struct Outlets;
struct ActionControls;

// The settings as the operations read them: each shown in its control and stored as the user
// edits it, each brought into its range when read. A value outside the range, or one that does
// not read, is said once in the system log (until it changes), naming the setting and the value
// used; what is logged is what is used.
class SettingsReader {
public:
    explicit SettingsReader(UserDefaults& defaults) : defaults_(defaults) {}

    // Registers every setting's default.
    void registerDefaults();
    // Shows each setting of a text field or check box in its control; an edit is stored at once.
    void bind(const Outlets& outlets, QObject* context);
    // Shows the stored choices in the seismogram window's pop-ups and switches (amplitude mode,
    // data source, sort by distance, travel-time model); a stored value that names none of a
    // pop-up's items is said once and its first item shown.
    void showChoices(const ActionControls& actions) const;

    // A number typed in `field` (or the fallback when there is no field), clamped to
    // [low, high]; `whole` drops the fraction after reading it as a real number ("1e12" is a
    // very long span, not 1).
    double number(const QLineEdit* field, const char* key, double low, double high, double fallback,
                  bool whole = false) const;
    // A whole-number setting kept without a control, brought into range.
    int whole(const char* key, int low, int high, int fallback) const;
    // A setting that names one of `choices`; another is said and the first is used.
    QString choice(const char* key, const QStringList& choices) const;
    // A filter corner: any finite value as typed (0 or below leaves the filter out); one that is
    // not a number leaves it out, and says so.
    float corner(const QLineEdit* field, const char* key) const;
    // A service's base address; nothing (so no request goes out) when the typed one is not a
    // plain http(s) base.
    QString serviceBase(const QLineEdit* field, const char* key) const;

private:
    void report(const QString& key, const QString& typed, const QString& message) const;

    UserDefaults& defaults_;
    // The last value of each setting that was reported, so it is said once.
    mutable QHash<QString, QString> reported_;
};
