#pragma once

// One option set of the chain, as the settings window shows it.
struct ProcessingOptionSet {
    bool filter = false;
    float lowPassCorner = 0, highPassCorner = 0; // Hz; <= 0 or >= Nyquist leaves that filter out
    bool longPeriodInstrument = false, shortPeriodInstrument = false;
    bool decimate = false;
    int decimationFactor = 1;
    bool integrate = false;
    friend bool operator==(const ProcessingOptionSet&, const ProcessingOptionSet&) = default;
};

// Both sets: the chain picks one by the trace's component name.
struct ProcessingOptions {
    ProcessingOptionSet longPeriod, broadband;
    friend bool operator==(const ProcessingOptions&, const ProcessingOptions&) = default;
};
