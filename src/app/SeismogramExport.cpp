#include "app/SeismogramExport.h"

#include "base/Time.h"
#include "components/sac/SacObject.h"

#include <QDir>
#include <QFile>

namespace {

QString headerCode(const SacObject& s, const sac::Field& field) {
    const sac::SacHeader* h = s.GetSacHeader();
    return h ? QString::fromStdString(h->getText(field)).trimmed() : QString();
}

// NET.STA.LOC.CHA.<first sample, UTC>.sac; characters a file name cannot hold become "_".
QString exportName(const SacObject& s) {
    QString loc = headerCode(s, sac::text::KHOLE);
    if (loc.isEmpty())
        loc = QStringLiteral("--");
    const civil::Fields f = civil::fieldsOf(s.startTime());
    QString name = QStringLiteral("%1.%2.%3.%4.%5%6%7T%8%9%10Z.sac")
                       .arg(headerCode(s, sac::text::KNETWK), headerCode(s, sac::text::KSTNM), loc,
                            headerCode(s, sac::text::KCMPNM))
                       .arg(f.year, 4, 10, QLatin1Char('0'))
                       .arg(f.month, 2, 10, QLatin1Char('0'))
                       .arg(f.day, 2, 10, QLatin1Char('0'))
                       .arg(f.hour, 2, 10, QLatin1Char('0'))
                       .arg(f.minute, 2, 10, QLatin1Char('0'))
                       .arg(f.second, 2, 10, QLatin1Char('0'));
    for (QChar& c : name)
        if (!(c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_'))
            c = u'_';
    return name;
}

// A copy referenced to its own first sample, so B is 0 and the times survive single precision.
std::vector<std::byte> sacBytesOf(const SacObject& s) {
    SacObject copy =
        SacObject::fromSamples(std::vector<float>(s.samples().begin(), s.samples().end()),
                               s.delta(), s.startTime(), 0.0, s.GetSacHeader());
    return copy.encode();
}

} // namespace

namespace seismogramexport {

bool write(const QString& folder,
           const std::vector<std::pair<const SacObject*, const SacObject*>>& traces, QString* why) {
    const QDir dir(folder);
    for (const char* sub : {"processed", "raw"}) {
        if (!dir.mkpath(QString::fromLatin1(sub))) {
            if (why)
                *why = QStringLiteral("Could not make the folder %1.")
                           .arg(dir.filePath(QString::fromLatin1(sub)));
            return false;
        }
    }
    auto writeOne = [&](const SacObject& s, const QString& sub) {
        const QString path = dir.filePath(sub + u'/' + exportName(s));
        const auto bytes = sacBytesOf(s);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) ||
            f.write(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
            if (why)
                *why = QStringLiteral("Could not write %1: %2.").arg(path, f.errorString());
            return false;
        }
        return true;
    };
    for (const auto& [s, raw] : traces) {
        if (!s || s->samples().empty())
            continue;
        if (!writeOne(*s, QStringLiteral("processed")))
            return false;
        if (raw && !writeOne(*raw, QStringLiteral("raw")))
            return false;
    }
    return true;
}

} // namespace seismogramexport
