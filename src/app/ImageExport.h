#pragma once

#include <QSize>
#include <QString>

#include <functional>
#include <optional>

class QImage;
class QPainter;

// Pictures of a view written to a file: PNG, JPEG or SVG, the format always the one the file's
// name says.
namespace imageexport {

enum class Format { Png, Jpeg, Svg };

// The format a file name's extension names (.png, .jpg or .jpeg, .svg; any case); nothing for
// another or none.
std::optional<Format> formatOf(const QString& path);
// The save dialog's filters, PNG first, and the format each names.
QString nameFilters();
std::optional<Format> formatOfFilter(const QString& filter);
QString extensionOf(Format format); // without the dot
// The file a save dialog means: a name whose extension names no format gets the chosen
// filter's, so "shot" saved as an SVG drawing is "shot.svg"; a name that does names one is
// written as it says.
QString pathFor(const QString& typed, const QString& filter);

// Draws the picture with `draw` at `size` and writes it in the format the name gives; false,
// and why in words a person can act on, when it cannot be written.
using Draw = std::function<void(QPainter&, QSize)>;
bool write(const QString& path, QSize size, const Draw& draw, const QString& title,
           QString* why = nullptr);
// The picture drawn with `draw` on white, at `size` (at least one pixel each way).
QImage image(QSize size, const Draw& draw);

} // namespace imageexport
