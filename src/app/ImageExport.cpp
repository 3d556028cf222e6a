#include "app/ImageExport.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSvgGenerator>

namespace imageexport {

namespace {

struct Known {
    Format format;
    const char* filter;
    const char* extension;
    const char* writer; // QImageWriter's name
};

constexpr Known kKnown[] = {
    {Format::Png, "PNG image (*.png)", "png", "PNG"},
    {Format::Jpeg, "JPEG image (*.jpg *.jpeg)", "jpg", "JPEG"},
    {Format::Svg, "SVG drawing (*.svg)", "svg", nullptr},
};

const Known& known(Format format) {
    for (const Known& k : kKnown)
        if (k.format == format)
            return k;
    return kKnown[0];
}

bool fail(QString* why, const QString& path, const QString& reason) {
    if (why)
        *why = QStringLiteral("Could not write %1: %2.").arg(path, reason);
    return false;
}

} // namespace

std::optional<Format> formatOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"png")
        return Format::Png;
    if (suffix == u"jpg" || suffix == u"jpeg")
        return Format::Jpeg;
    if (suffix == u"svg")
        return Format::Svg;
    return std::nullopt;
}

QString nameFilters() {
    QStringList filters;
    for (const Known& k : kKnown)
        filters << QString::fromLatin1(k.filter);
    return filters.join(QStringLiteral(";;"));
}

std::optional<Format> formatOfFilter(const QString& filter) {
    for (const Known& k : kKnown)
        if (filter == QLatin1StringView(k.filter))
            return k.format;
    return std::nullopt;
}

QString extensionOf(Format format) {
    return QString::fromLatin1(known(format).extension);
}

QString pathFor(const QString& typed, const QString& filter) {
    if (typed.isEmpty() || formatOf(typed))
        return typed;
    const Format f = formatOfFilter(filter).value_or(Format::Png);
    return typed + u'.' + extensionOf(f);
}

bool write(const QString& path, QSize size, const Draw& draw, const QString& title, QString* why) {
    const auto format = formatOf(path);
    if (!format)
        return fail(why, path,
                    QStringLiteral("its name does not end in .png, .jpg, .jpeg or .svg, the "
                                   "formats Groundsway writes"));
    size = size.expandedTo(QSize(1, 1));
    // Opened here, so a folder one cannot write is told as such, for every format.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(why, path, file.errorString());
    // Nothing half written stays behind.
    const auto abandon = [&](const QString& reason) {
        file.close();
        file.remove();
        return fail(why, path, reason);
    };
    if (*format == Format::Svg) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(title);
        QPainter p;
        if (!p.begin(&svg))
            return abandon(QStringLiteral("the drawing could not be started"));
        draw(p, size);
        p.end();
    } else {
        // JPEG has no transparency: both raster formats get the white page the view is drawn on.
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter p(&image);
            draw(p, size);
        }
        QImageWriter writer(&file, known(*format).writer);
        if (*format == Format::Jpeg)
            writer.setQuality(92);
        if (!writer.write(image))
            return abandon(writer.errorString());
    }
    if (!file.flush() || file.error() != QFile::NoError)
        return abandon(file.errorString());
    return true;
}

QImage image(QSize size, const Draw& draw) {
    QImage out(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::white);
    QPainter p(&out);
    draw(p, out.size());
    return out;
}

} // namespace imageexport
