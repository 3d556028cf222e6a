#pragma once

#include <QMap>
#include <QString>

// The request record of one channel for one retrieval: text values under fixed keys. Nothing is
// validated when it is filled; a missing key reads as an empty text.
class ChannelRequest {
public:
    static inline const QString Network = QStringLiteral("Network");
    static inline const QString StationID = QStringLiteral("StationID");
    static inline const QString LocationCode = QStringLiteral("LocationCode");
    static inline const QString ChannelID = QStringLiteral("ChannelID");
    static inline const QString StartTime = QStringLiteral("StartTime");
    static inline const QString EndTime = QStringLiteral("EndTime");
    static inline const QString SampleRate = QStringLiteral("SampleRate");

    QString value(const QString& key) const { return values_.value(key); }
    void setValue(const QString& key, const QString& value) { values_.insert(key, value); }
    const QMap<QString, QString>& values() const { return values_; }

private:
    QMap<QString, QString> values_;
};
