// Window → Settings: edits wait for Apply or OK, Cancel drops them, and a corner at or below 0
// reads "off".
#include "AppHarness.h"
#include "QtPrinters.h"

#include "app/SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class Settings : public ::testing::Test {
protected:
    AppHarness app;
    groundswayController& c = app.controller();
    SettingsDialog* dialog = qobject_cast<SettingsDialog*>(app.o().settingsWindow);

    void SetUp() override {
        ASSERT_NE(dialog, nullptr);
        c.awakeFromNib();
        open();
        ASSERT_TRUE(dialog->isVisible());
    }
    void open() {
        c.showSettingsWindow(nullptr);
        QCoreApplication::processEvents(); // laid out, as a user sees it
    }
    // The form's own controls, which the user edits.
    template <class W> W* editor(const char* name) {
        W* w = dialog->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void type(const char* field, const QString& text) {
        QLineEdit* e = editor<QLineEdit>(field);
        e->selectAll();
        QTest::keyClicks(e, text);
    }
    // Where a person clicks a check box: on its box.
    void tick(const char* name) {
        QCheckBox* box = editor<QCheckBox>(name);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }
    QPushButton* button(QDialogButtonBox::StandardButton which) {
        return editor<QDialogButtonBox>("settingsButtonBox")->button(which);
    }
    bool stored(const char* key) {
        c.userDefaults().synchronize();
        return c.userDefaults().isStored(QString::fromLatin1(key));
    }
};

} // namespace

TEST_F(Settings, AnEditReachesNothingUntilApplyThenIsUsedAndKept) {
    EXPECT_FALSE(button(QDialogButtonBox::Apply)->isEnabled());
    type("LP_lpcTField", "0.2");
    tick("LP_integrateButton");
    ASSERT_TRUE(editor<QCheckBox>("LP_integrateButton")->isChecked());
    EXPECT_TRUE(button(QDialogButtonBox::Apply)->isEnabled());
    // Pending: what a retrieval would read is unchanged, and nothing is stored.
    EXPECT_EQ(app.o().LP_lpcTField->text(), u"0.05");
    EXPECT_FLOAT_EQ(c.processingOptions().longPeriod.lowPassCorner, 0.05f);
    EXPECT_FALSE(c.processingOptions().longPeriod.integrate);
    EXPECT_FALSE(stored("lpHighFrequencyCorner"));
    EXPECT_FALSE(stored("lpIntegrate"));

    QTest::mouseClick(button(QDialogButtonBox::Apply), Qt::LeftButton);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FLOAT_EQ(c.processingOptions().longPeriod.lowPassCorner, 0.2f);
    EXPECT_TRUE(c.processingOptions().longPeriod.integrate);
    EXPECT_EQ(c.userDefaults().stringForKey("lpHighFrequencyCorner"), u"0.2");
    EXPECT_TRUE(c.userDefaults().boolForKey("lpIntegrate"));
    EXPECT_FALSE(button(QDialogButtonBox::Apply)->isEnabled());
    EXPECT_FALSE(dialog->hasUnappliedEdits());
}

TEST_F(Settings, CancelEscapeAndClosingDropWhatWasNotApplied) {
    const QString list = app.o().channelListTView->toPlainText();
    const QStringList stations = *c.theStations();
    const auto cancelBy = [&](int how) {
        if (how == 0)
            QTest::mouseClick(button(QDialogButtonBox::Cancel), Qt::LeftButton);
        else if (how == 1)
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            dialog->close();
    };
    for (int how = 0; how < 3; ++how) {
        open();
        type("monitorRequestDurationTField", "5");
        tick("BB_applyFilterButton");
        ASSERT_FALSE(editor<QCheckBox>("BB_applyFilterButton")->isChecked());
        editor<QComboBox>("travelTimeModelPopUp")->setCurrentText("ak135");
        app.o().channelListTView->setPlainText("IU;COLA;BHZ;00;College\n");
        cancelBy(how);
        EXPECT_FALSE(dialog->isVisible()) << how;
        EXPECT_EQ(app.o().monitorRequestDurationTField->text(), u"60") << how;
        EXPECT_TRUE(c.processingOptions().broadband.filter) << how;
        EXPECT_EQ(app.actions().travelTimeModelPopUp->currentText(), u"iasp91") << how;
        EXPECT_EQ(app.o().channelListTView->toPlainText(), list) << how;
        EXPECT_EQ(*c.theStations(), stations) << how;
        EXPECT_FALSE(stored("monitorDurationMinutes")) << how;
        EXPECT_FALSE(stored("bbApplyFilter")) << how;
        // Opened again, the form shows what is in use.
        open();
        EXPECT_EQ(editor<QLineEdit>("monitorRequestDurationTField")->text(), u"60") << how;
        EXPECT_TRUE(editor<QCheckBox>("BB_applyFilterButton")->isChecked()) << how;
        EXPECT_FALSE(dialog->hasUnappliedEdits()) << how;
    }
}

TEST_F(Settings, OkAppliesTheListAndTheModelAndCloses) {
    app.o().channelListTView->setPlainText("Title;Two\nIU;COLA;BHZ;00;College\nII;PFO;BHZ;00;PF\n");
    editor<QComboBox>("travelTimeModelPopUp")->setCurrentText("ak135");
    QTest::mouseClick(button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(*c.theStations(), (QStringList{"COLA", "PFO"}));
    EXPECT_EQ(app.o().plotTitleTField->text(), u"Two");
    EXPECT_EQ(app.actions().travelTimeModelPopUp->currentText(), u"ak135");
    EXPECT_EQ(c.userDefaults().stringForKey("travelTimeModel"), u"ak135");
    // The list's title reaches the form's title field too.
    c.showSettingsWindow(nullptr);
    EXPECT_EQ(editor<QLineEdit>("plotTitleTField")->text(), u"Two");
}

TEST_F(Settings, ACornerAtOrBelowZeroReadsOff) {
    // The broadband low-pass default is -10: no filter.
    EXPECT_EQ(editor<QLineEdit>("BB_lpcTField")->text(), u"off");
    EXPECT_EQ(editor<QLineEdit>("BB_hpcTField")->text(), u"0.005");
    EXPECT_EQ(editor<QLineEdit>("LP_lpcTField")->text(), u"0.05");
    for (const char* typed : {"off", "", "0", "-3", "OFF"}) {
        type("LP_lpcTField", "0.1");
        QTest::mouseClick(button(QDialogButtonBox::Apply), Qt::LeftButton);
        ASSERT_FLOAT_EQ(c.processingOptions().longPeriod.lowPassCorner, 0.1f) << typed;
        type("LP_lpcTField", QString::fromLatin1(typed));
        if (*typed == '\0')
            editor<QLineEdit>("LP_lpcTField")->clear();
        QTest::mouseClick(button(QDialogButtonBox::Apply), Qt::LeftButton);
        EXPECT_LE(c.processingOptions().longPeriod.lowPassCorner, 0.0f) << typed;
        EXPECT_EQ(editor<QLineEdit>("LP_lpcTField")->text(), u"off") << typed;
        EXPECT_LE(c.userDefaults().stringForKey("lpHighFrequencyCorner").toDouble(), 0.0) << typed;
    }
    // Other fields show what they hold.
    EXPECT_EQ(editor<QLineEdit>("updateIntervalTField")->text(), u"120");
}
