#pragma once

#include <QHash>
#include <QString>
#include <QVariant>

#include <memory>

class QSettings;

// The per-user settings store: QSettings("Groundsway", "Groundsway") in the native format
// (~/.config/Groundsway/Groundsway.conf, keys under [General]) with a layer of registered
// defaults kept in memory. A default is never written to the file; only a stored value is.
class UserDefaults {
public:
    UserDefaults();
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    void registerDefaults(const QList<std::pair<QString, QVariant>>& defaults);
    // The stored value, else the registered default, else an invalid QVariant.
    QVariant objectForKey(const QString& key) const;
    // The registered default alone, whatever is stored.
    QVariant registeredValue(const QString& key) const { return registered_.value(key); }
    QString stringForKey(const QString& key) const { return objectForKey(key).toString(); }
    bool boolForKey(const QString& key) const;
    void setObject(const QVariant& value, const QString& key);
    bool isStored(const QString& key) const;
    void synchronize();
    QString fileName() const;

private:
    std::unique_ptr<QSettings> settings_;
    QHash<QString, QVariant> registered_;
};
