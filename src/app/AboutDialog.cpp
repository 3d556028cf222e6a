#include "app/AboutDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QTextBrowser>
#include <QVBoxLayout>

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), body_(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(tr("About Groundsway"));
    auto* heading = new QLabel(
        tr("<h2>Groundsway %1</h2><p>Watch the ground move: live seismograms from the stations "
           "you choose, and those of recent earthquakes.</p>")
            .arg(QStringLiteral(GROUNDSWAY_VERSION)),
        this);
    heading->setTextFormat(Qt::RichText);
    heading->setWordWrap(true);
    body_->setObjectName(QStringLiteral("aboutText"));
    body_->setOpenExternalLinks(true);
    body_->setHtml(
        tr("<h3>Built on</h3>"
           "<ul>"
           "<li>Qt %1, under the GNU Lesser General Public License version 3</li>"
           "<li>libcurl, under the curl licence (MIT style)</li>"
           "<li>FFTW 3, under the GNU General Public License version 2 or later</li>"
           "<li>libmseed, under the Apache License 2.0</li>"
           "</ul>"
           "<h3>Built-in reference data</h3>"
           "<ul>"
           "<li>Flinn-Engdahl seismic and geographic regions, 1995 revision (Young, Presgrave, "
           "Aichele, Wiens and Flinn, 1996, Seismological Research Letters 67(1)): U.S. "
           "Geological Survey data, in the public domain.</li>"
           "<li>Earth models iasp91 (Kennett and Engdahl, 1991) and ak135 (Kennett, Engdahl and "
           "Buland, 1995), for the predicted arrival times.</li>"
           "<li>Both as copied from the data of ObsPy 1.5.0.</li>"
           "</ul>"
           "<p>The full attribution is installed as "
           "<tt>/usr/share/doc/groundsway/reference-data.md</tt> and kept in the source as "
           "<tt>data/README.md</tt>.</p>"
           "<h3>The data you see</h3>"
           "<p>Seismograms, earthquakes and stations come from the services named in Window "
           "&rarr; Settings: by default the time-series and station web services of the IRIS "
           "Data Management Center (EarthScope Consortium) and the earthquake catalogue of the "
           "U.S. Geological Survey (ComCat). When you publish what you see, credit the networks "
           "that recorded it and the services that delivered it, as they ask.</p>")
            .arg(QString::fromLatin1(qVersion())));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(body_, 1);
    layout->addWidget(buttons);
    resize(560, 520);
}

QString AboutDialog::text() const {
    return findChild<QLabel*>()->text() + u'\n' + body_->toPlainText();
}
