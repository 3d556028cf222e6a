#pragma once

#include "acquisition/TimeSeriesSource.h"

#include <QString>

class QComboBox;
class UserDefaults;

// The "timeSeriesService" setting: which kind of service the seismogram address names,
// "irisTimeSeries" (SAC, the default) or "fdsnDataselect" (miniSEED). Anything else stored
// reads as the default.
namespace servicechoice {

inline constexpr char kKey[] = "timeSeriesService";

TimeSeriesSource::Service serviceOf(const QString& stored);
QString keyOf(TimeSeriesSource::Service service);

// The stored choice, as the source takes it.
TimeSeriesSource::Service chosen(const UserDefaults& defaults);
// Shows the stored choice in the pop-up (its items in the order of TimeSeriesSource::Service)
// and stores every choice applied there.
void bind(QComboBox* popUp, UserDefaults& defaults);

} // namespace servicechoice
