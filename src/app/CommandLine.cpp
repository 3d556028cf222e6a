#include "app/CommandLine.h"

#include "app/ImageExport.h"

#include <algorithm>
#include <array>

namespace {

// QGuiApplication's and QApplication's options: those that take a value, and flags.
constexpr std::array kQtWithValue = {
    "platform",     "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon",  "qwindowtitle",       "session",       "display", "geometry",
    "style",        "stylesheet",         "name",          "title",   "visual",
    "qmljsdebugger"};
constexpr std::array kQtFlags = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

template <std::size_t N> bool among(const std::array<const char*, N>& names, const QString& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const char* n) { return name == QLatin1StringView(n); });
}

std::optional<QSize> sizeOf(const QString& text) {
    const QStringList parts = text.split(u'x');
    bool okW = false, okH = false;
    const int w = parts.value(0).toInt(&okW), h = parts.value(1).toInt(&okH);
    if (parts.size() != 2 || !okW || !okH || w < 16 || h < 16 || w > 16384 || h > 16384)
        return std::nullopt;
    return QSize(w, h);
}

} // namespace

std::variant<CommandLineOptions, QString> parseCommandLine(const QStringList& arguments) {
    CommandLineOptions o;
    // Help and the version are answered whatever else stands beside them.
    o.help =
        arguments.contains(QStringLiteral("-h")) || arguments.contains(QStringLiteral("--help"));
    o.version =
        arguments.contains(QStringLiteral("-v")) || arguments.contains(QStringLiteral("--version"));
    if (o.help || o.version)
        return o;
    bool snapshotOnly = false; // an option that only makes sense with --snapshot was given
    bool onlyFiles = false;    // after "--"
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (onlyFiles || !a.startsWith(u'-')) {
            if (a.isEmpty())
                return QStringLiteral("An empty argument names no file.");
            o.files << a;
            continue;
        }
        if (a == u"--") {
            onlyFiles = true;
            continue;
        }
        if (a == u"-")
            return QStringLiteral("Unexpected argument '%1'.").arg(a);
        const bool twoDashes = a.startsWith(QStringLiteral("--"));
        const QString body = a.mid(twoDashes ? 2 : 1);
        const QString name = body.section(u'=', 0, 0);
        const bool inlineValue = body.contains(u'=');
        // The value after "=" or in the next argument.
        const auto value = [&]() -> std::optional<QString> {
            if (inlineValue)
                return body.section(u'=', 1);
            if (i + 1 < arguments.size())
                return arguments[++i];
            return std::nullopt;
        };
        if (among(kQtWithValue, name)) {
            if (!inlineValue && !value())
                return QStringLiteral("Missing value after '%1'.").arg(a);
            continue;
        }
        if (among(kQtFlags, name) && !inlineValue)
            continue;
        const bool ours = twoDashes && (name == u"snapshot" || name == u"size" || name == u"list" ||
                                        name == u"helicorder" || name == u"verbose" ||
                                        name == u"inline-acquisition");
        if (!ours)
            return QStringLiteral("Unknown option '%1'.")
                .arg(inlineValue ? a.section(u'=', 0, 0) : a);
        if (name == u"verbose" || name == u"inline-acquisition") {
            if (inlineValue)
                return QStringLiteral("'%1' takes no value.").arg(a.section(u'=', 0, 0));
            (name == u"verbose" ? o.verbose : o.inlineAcquisition) = true;
            snapshotOnly = snapshotOnly || name == u"verbose";
            continue;
        }
        const auto v = value();
        if (!v)
            return QStringLiteral("Missing value after '%1'.").arg(a);
        if (name == u"snapshot") {
            if (v->isEmpty() || !imageexport::formatOf(*v))
                return QStringLiteral("--snapshot writes PNG, JPEG or SVG, as the file's name "
                                      "ends (.png, .jpg or .jpeg, .svg), not '%1'.")
                    .arg(*v);
            o.snapshot = *v;
        } else if (name == u"size") {
            const auto s = sizeOf(*v);
            if (!s)
                return QStringLiteral("--size needs WIDTHxHEIGHT, 16 to 16384 pixels each, like "
                                      "1600x1000, not '%1'.")
                    .arg(*v);
            o.size = *s;
            snapshotOnly = true;
        } else if (name == u"list") {
            o.list = *v;
            snapshotOnly = true;
        } else { // helicorder
            o.helicorder = ChannelId::fromSeedId(*v);
            if (!o.helicorder)
                return QStringLiteral("--helicorder needs a channel as NET.STA.LOC.CHA, like "
                                      "IU.ANMO.00.BHZ, not '%1'.")
                    .arg(*v);
            snapshotOnly = true;
        }
    }
    if (snapshotOnly && !o.snapshot)
        return QStringLiteral("--size, --list, --helicorder and --verbose go with --snapshot.");
    if (!o.files.isEmpty() && (o.list || o.helicorder))
        return QStringLiteral("--list and --helicorder draw from the services, not files.");
    return o;
}

QString commandLineHelp() {
    return QStringLiteral(
        "Usage: groundsway [options] [FILE...]\n"
        "Shows the ground motion of the last hour at a chosen set of seismic stations, refreshed\n"
        "on a timer, and the seismograms of recent earthquakes. Given SAC or miniSEED FILEs, it\n"
        "shows those instead, one row per channel.\n"
        "\n"
        "Options:\n"
        "  -h, --help                    Show this help and exit.\n"
        "  -v, --version                 Show the version and exit.\n"
        "  --snapshot FILE               Run one monitor refresh (or draw the FILEs given)\n"
        "                                without showing a window, write the seismogram view\n"
        "                                to FILE and exit. The name's extension gives the\n"
        "                                format: .png, .jpg (or .jpeg) or .svg.\n"
        "  --size WIDTHxHEIGHT           The snapshot's size in pixels (default 1600x1000).\n"
        "  --list NAME                   The saved channel list the snapshot shows; else the one\n"
        "                                loaded at start.\n"
        "  --helicorder NET.STA.LOC.CHA  With --snapshot: draw the helicorder of this channel\n"
        "                                (its span and rows as the settings hold them) instead.\n"
        "  --verbose                     With --snapshot: write the system log to standard error\n"
        "                                as it goes; without it, the log is written only when\n"
        "                                the snapshot fails.\n"
        "\n"
        "Qt's own options (-platform, -style, ...) are accepted too.\n"
        "Exit status: 0 on success, 1 when a snapshot found nothing to draw or could not be\n"
        "written, 2 for a mistake on the command line.\n");
}
