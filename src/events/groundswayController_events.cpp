// The recent-earthquake list and its web links.
#include "app/groundswayController.h"

#include "app/SettingsReader.h"

#include "app/ControlValues.h"
#include "components/NEIC_QueryController.h"

#include <QLineEdit>
#include <QTableView>

void groundswayController::showEventListWindow(QObject*) {
    showWindow(o_.eventListWindow);
    loadNEICInfo(nullptr);
    makeNoFirstResponder(o_.eventListWindow);
}

void groundswayController::loadNEICInfo(QObject*) {
    if (!neicQueryController_)
        return;
    neicQueryController_->setServiceURL(settings_->serviceBase(o_.eventServiceURLTField, "eventServiceURL"));
    neicQueryController_->setMinMagnitude(
        static_cast<float>(settings_->number(o_.minMagTField, "minMagnitude", -2, 10, 5)));
    neicQueryController_->loadNEIC_TextList();
    if (o_.eventListTblView)
        o_.eventListTblView->viewport()->update();
}

void groundswayController::loadNEICEventPage(QObject*) {
    if (neicQueryController_)
        neicQueryController_->loadNeicEventPage();
}

void groundswayController::openGoogleMaps(QObject*) {
    if (neicQueryController_)
        neicQueryController_->openGoogleMaps();
}
