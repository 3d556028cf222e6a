#include "app/UserDefaults.h"

#include <QSettings>

UserDefaults::UserDefaults()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Groundsway"),
                                            QStringLiteral("Groundsway"))) {}

UserDefaults::~UserDefaults() = default;

void UserDefaults::registerDefaults(const QList<std::pair<QString, QVariant>>& defaults) {
    for (const auto& [key, value] : defaults)
        registered_.insert(key, value);
}

QVariant UserDefaults::objectForKey(const QString& key) const {
    if (settings_->contains(key)) {
        const QVariant v = settings_->value(key);
        // A value written by hand with a comma and no quotes ("host:1,host:2") is read by the
        // settings file as a list; the setting is the text as written.
        if (v.typeId() == QMetaType::QStringList)
            return v.toStringList().join(u',');
        return v;
    }
    return registered_.value(key);
}

bool UserDefaults::boolForKey(const QString& key) const {
    const QVariant v = objectForKey(key);
    // The native format stores booleans as the texts "true" and "false".
    if (v.typeId() == QMetaType::QString)
        return v.toString() == QLatin1StringView("true") || v.toString().toInt() != 0;
    return v.toBool();
}

void UserDefaults::setObject(const QVariant& value, const QString& key) {
    settings_->setValue(key, value);
}

bool UserDefaults::isStored(const QString& key) const {
    return settings_->contains(key);
}

void UserDefaults::synchronize() {
    settings_->sync();
}

QString UserDefaults::fileName() const {
    return settings_->fileName();
}
