#pragma once

#include "base/DateText.h"
#include "base/Time.h"

#include <QString>

// The stretch of time one retrieval asks for, with what kind of window it is. The times are read
// once, where a person typed them or where the window was made; the texts are what the window
// fields show and every channel request carries (a typed text stays as typed, for the log).
struct WindowRequest {
    enum class Mode {
        Monitor,    // the last minutes up to now, refreshed
        Earthquake, // from an earthquake's origin time
        Typed,      // a window of the user's own
    };
    Mode mode = Mode::Typed;
    Time start{}, end{};
    QString startText, endText;
    // A typed text that does not read as a time is asked for as the present moment; the window's
    // traces then keep the reference they had.
    bool startRead = true, endRead = true;

    static WindowRequest of(Mode mode, Time start, Time end) {
        return {mode, start, end, datetext::requestTime(start), datetext::requestTime(end)};
    }
    // Texts as typed: each read once, the present moment where one does not read.
    static WindowRequest typed(Mode mode, const QString& startText, const QString& endText,
                               Time now) {
        const auto s = datetext::parseRequestTime(startText);
        const auto e = datetext::parseRequestTime(endText);
        return {mode, s.value_or(now), e.value_or(now), startText, endText, s.has_value(),
                e.has_value()};
    }
    double seconds() const { return civil::secondsBetween(start, end); }
    friend bool operator==(const WindowRequest&, const WindowRequest&) = default;
};
