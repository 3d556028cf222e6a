#include "app/ServiceChoice.h"

#include "app/UserDefaults.h"

#include <QComboBox>

namespace servicechoice {

TimeSeriesSource::Service serviceOf(const QString& stored) {
    return stored == u"fdsnDataselect" ? TimeSeriesSource::Service::Dataselect
                                       : TimeSeriesSource::Service::TimeSeries;
}

QString keyOf(TimeSeriesSource::Service service) {
    return service == TimeSeriesSource::Service::Dataselect ? QStringLiteral("fdsnDataselect")
                                                            : QStringLiteral("irisTimeSeries");
}

TimeSeriesSource::Service chosen(const UserDefaults& defaults) {
    return serviceOf(defaults.stringForKey(QLatin1StringView(kKey)));
}

void bind(QComboBox* popUp, UserDefaults& defaults) {
    if (!popUp)
        return;
    popUp->setCurrentIndex(static_cast<int>(chosen(defaults)));
    QObject::connect(popUp, &QComboBox::activated, popUp, [&defaults](int index) {
        const auto service = index == static_cast<int>(TimeSeriesSource::Service::Dataselect)
                                 ? TimeSeriesSource::Service::Dataselect
                                 : TimeSeriesSource::Service::TimeSeries;
        defaults.setObject(keyOf(service), QLatin1StringView(kKey));
    });
}

} // namespace servicechoice
