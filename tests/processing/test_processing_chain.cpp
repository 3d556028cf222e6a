// The processing chain, checked against the same operations applied by hand: which option set a
// trace gets, in which order the steps run, and how decimation factors are split.
#include "AppHarness.h"
#include "base/Time.h"
#include "components/sac/SacObject.h"

#include <QCheckBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

std::unique_ptr<SacObject> trace(const std::string& component, std::size_t n = 3001,
                                 double delta = 0.05) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) * delta;
        x[i] = static_cast<float>(3 * std::sin(0.9 * t) + 0.5 * std::sin(11.0 * t) + 0.002 * t + 4);
    }
    auto s = std::make_unique<SacObject>(
        SacObject::fromSamples(std::move(x), delta, civil::dateOf(2020, 1, 1, 0, 0, 0)));
    s->header()->setText(sac::text::KCMPNM, component);
    return s;
}

std::vector<float> samples(const SacObject& s) {
    return {s.samples().begin(), s.samples().end()};
}

void scaleToUnitRms(SacObject& s) {
    const float rms = static_cast<float>(s.simpleRMS());
    s.ScaleAmplitudes(rms == 0.0f ? 0.0f : 1.0f / rms);
}

class ProcessingChain : public ::testing::Test {
protected:
    AppHarness app;
    const Outlets& o = app.o();

    void SetUp() override {
        for (QCheckBox* b : {o.LP_applyFilterButton, o.LP_wwlpButton, o.LP_decimateButton,
                             o.LP_integrateButton, o.BB_applyFilterButton, o.BB_wwlpButton,
                             o.BB_wwspButton, o.BB_decimateButton, o.BB_integrateButton})
            b->setChecked(false);
    }
    // The chain's result against a hand-made one: the same operations on an identical trace.
    void expectChain(const std::string& component, const std::function<void(SacObject&)>& byHand) {
        auto processed = trace(component);
        auto expected = trace(component);
        app.controller().processSeismogram(*processed);
        expected->SubtractLinearTrend();
        expected->RemoveMean();
        byHand(*expected);
        scaleToUnitRms(*expected);
        EXPECT_EQ(processed->delta(), expected->delta()) << component;
        EXPECT_EQ(samples(*processed), samples(*expected)) << component;
    }
};

} // namespace

TEST_F(ProcessingChain, WithEveryOptionOffATraceIsOnlyDetrendedDemeanedAndScaled) {
    expectChain("BHZ", [](SacObject&) {});
    auto s = trace("BHZ");
    app.controller().processSeismogram(*s);
    EXPECT_NEAR(s->simpleRMS(), 1.0, 1e-6);
}

TEST_F(ProcessingChain, ACapitalLChoosesTheLongPeriodOptions) {
    o.LP_applyFilterButton->setChecked(true);
    o.LP_lpcTField->setText("0.5");
    o.LP_hpcTField->setText("0.05");
    auto lp = [](SacObject& s) {
        s.Taper(0.05f);
        s.LPBUfilter(0.5f, 2, 2);
        s.HPBUfilter(0.05f, 2, 2);
    };
    for (const char* component : {"LHZ", "LHN", "HLZ", "MLZ"})
        expectChain(component, lp);
    for (const char* component : {"BHZ", "HHZ", "VHZ", "lhz", ""})
        expectChain(component, [](SacObject&) {});
}

TEST_F(ProcessingChain, TheBroadbandDefaultsFilterOnlyAboveTheHighPassCorner) {
    o.BB_applyFilterButton->setChecked(true); // -10 Hz low-pass: no low-pass at all
    expectChain("BHZ", [](SacObject& s) {
        s.Taper(0.05f);
        s.HPBUfilter(0.005f, 2, 2);
    });
}

TEST_F(ProcessingChain, BothInstrumentsRunLongPeriodFirstAfterTheFilterAndBeforeDecimation) {
    o.BB_applyFilterButton->setChecked(true);
    o.BB_lpcTField->setText("4");
    o.BB_wwlpButton->setChecked(true);
    o.BB_wwspButton->setChecked(true);
    o.BB_decimateButton->setChecked(true);
    expectChain("BHZ", [](SacObject& s) {
        s.Taper(0.05f);
        s.LPBUfilter(4.0f, 2, 2);
        s.HPBUfilter(0.005f, 2, 2);
        s.ConvolveInstrument(1);
        s.ConvolveInstrument(2);
        s.Decimate(2);
        s.SubtractLinearTrend();
        s.RemoveMean();
    });
    o.LP_wwlpButton->setChecked(true);
    expectChain("LHZ", [](SacObject& s) { s.ConvolveInstrument(1); });
}

TEST_F(ProcessingChain, DecimationFactorsTenAndTwentyGoInTwoStages) {
    o.LP_decimateButton->setChecked(true);
    const std::pair<const char*, std::vector<int>> rows[] = {
        {"10", {5, 2}}, {"20", {5, 4}}, {"15", {15}}, {"2", {2}},
        {"7.9", {7}},   {"0", {}},      {"-4", {}},   {"x", {}}};
    for (const auto& [field, stages] : rows) {
        o.LP_decimationFactorTField->setText(field);
        expectChain("LHZ", [&](SacObject& s) {
            for (int q : stages)
                s.Decimate(q);
        });
    }
    // And never in one stage of ten: that result differs.
    o.LP_decimationFactorTField->setText("10");
    auto processed = trace("LHZ");
    app.controller().processSeismogram(*processed);
    auto single = trace("LHZ");
    single->SubtractLinearTrend();
    single->RemoveMean();
    single->Decimate(10);
    scaleToUnitRms(*single);
    EXPECT_EQ(processed->samples().size(), single->samples().size());
    EXPECT_NE(samples(*processed), samples(*single));
    EXPECT_FLOAT_EQ(static_cast<float>(processed->delta()), 0.5f);
}

TEST_F(ProcessingChain, OnlyBroadbandTracesAreDetrendedAgainAfterDecimation) {
    o.LP_decimateButton->setChecked(true);
    o.BB_decimateButton->setChecked(true);
    o.LP_decimationFactorTField->setText("10");
    o.BB_decimationFactorTField->setText("10");
    expectChain("LHZ", [](SacObject& s) {
        s.Decimate(5);
        s.Decimate(2);
    });
    expectChain("BHZ", [](SacObject& s) {
        s.Decimate(5);
        s.Decimate(2);
        s.SubtractLinearTrend();
        s.RemoveMean();
    });
}

TEST_F(ProcessingChain, IntegrationComesLast) {
    o.BB_decimateButton->setChecked(true);
    o.BB_integrateButton->setChecked(true);
    expectChain("BHZ", [](SacObject& s) {
        s.Decimate(2);
        s.SubtractLinearTrend();
        s.RemoveMean();
        s.Integrate();
    });
}

TEST_F(ProcessingChain, AMixedStateBoxLeavesItsStepOut) {
    o.BB_integrateButton->setTristate(true);
    o.BB_integrateButton->setCheckState(Qt::PartiallyChecked);
    expectChain("BHZ", [](SacObject&) {});
}

TEST_F(ProcessingChain, ATraceOfZerosStaysZeroWithoutDividingByZero) {
    auto s = std::make_unique<SacObject>(
        SacObject::fromSamples(std::vector<float>(500, 0.0f), 0.05, SacObject::Date{}));
    app.controller().processSeismogram(*s);
    for (float v : s->samples())
        EXPECT_EQ(v, 0.0f);
}

TEST_F(ProcessingChain, OptionsAreReadAtEachTrace) {
    o.BB_integrateButton->setChecked(true);
    expectChain("BHZ", [](SacObject& s) { s.Integrate(); });
    o.BB_integrateButton->setChecked(false);
    expectChain("BHZ", [](SacObject&) {});
}
