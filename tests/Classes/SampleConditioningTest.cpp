#include "Classes/SampleConditioning.h"

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace {

using State = std::array<double, 3>;

constexpr std::int32_t kFilterOff = 0;
constexpr std::int32_t kFilterOn = 1;
constexpr std::int32_t kLog = 0;
constexpr std::int32_t kLinear = 1;

// Bit equality is the real check; the decimal is the rounded figure the value was first worked
// out as, kept so a wrong hex constant in this file cannot go unnoticed.
void expectBits(std::uint32_t expectedBits, double approx, float actual) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(actual), expectedBits)
        << std::hex << "got 0x" << std::bit_cast<std::uint32_t>(actual) << std::dec << " (" << actual << ")";
    EXPECT_LE(std::fabs(static_cast<double>(std::bit_cast<float>(expectedBits)) - approx),
              1e-7 * std::fabs(approx))
        << "the hex constant does not match its decimal " << approx;
}

struct Step {
    platform::Acceleration sample;
    std::uint32_t bits;
    double approx;
};

struct SequenceCase {
    const char* name;
    std::int32_t filter;
    std::int32_t axis;
    std::int32_t scale;
    State lastAcceleration;
    std::vector<Step> steps;
};

constexpr platform::Acceleration kResting{0.0, 0.0, -1.0};
constexpr platform::Acceleration kMixed{-0.5, 1.0, -0.25}; // d = (0.5, -1.0, 0.25) from rest at zero

// clang-format off
const std::vector<SequenceCase> kSequences = {
    {"first sample logarithmic, then no change", kFilterOff, 1, kLog, {},
     {{kResting, 0x3F2F145B, 0.68390435}, {kResting, 0x00000000, 0.0}}},
    {"first sample linear", kFilterOff, 1, kLinear, {}, {{kResting, 0x3E800000, 0.25}}},
    {"filter 2 is off", 2, 1, kLinear, {}, {{kResting, 0x3E800000, 0.25}, {kResting, 0x00000000, 0.0}}},
    {"filter -1 is off", -1, 1, kLinear, {}, {{kResting, 0x3E800000, 0.25}, {kResting, 0x00000000, 0.0}}},
    {"high-pass, y and z, linear: halves and flips sign", kFilterOn, 1, kLinear, {},
     {{kResting, 0x3E000000, 0.125}, {kResting, 0xBD800000, -0.0625}, {kResting, 0xBD000000, -0.03125},
      {kResting, 0xBC800000, -0.015625}, {kResting, 0xBC000000, -0.0078125}}},
    // The clamp comes before the sign, so once the log falls below zero a negative swing gives -0.
    {"high-pass, z only, logarithmic: decays into the clamp", kFilterOn, 0, kLog, {},
     {{kResting, 0x3F11708C, 0.56812358}, {kResting, 0xBEE79979, -0.45234278},
      {kResting, 0xBEAC51DC, -0.33656204}, {kResting, 0xBE62147B, -0.22078125},
      {kResting, 0xBDD70A7F, -0.10500049}, {kResting, 0x80000000, 0.0}, {kResting, 0x80000000, 0.0}}},
    {"mixed, z only, linear",  kFilterOff,  0, kLinear, {}, {{kMixed, 0x3D800000, 0.0625}}},
    {"mixed, y and z, linear", kFilterOff,  1, kLinear, {}, {{kMixed, 0xBE83F07B, -0.25769410}}},
    {"mixed, x y z, linear",   kFilterOff,  2, kLinear, {}, {{kMixed, 0xBE92A476, -0.28641099}}},
    {"mixed, no axis, linear", kFilterOff,  3, kLinear, {}, {{kMixed, 0x00000000, 0.0}}},
    {"mixed, z only, log",     kFilterOff,  0, kLog,    {}, {{kMixed, 0x3EE79979, 0.45234278}}},
    {"mixed, y and z, log",    kFilterOff,  1, kLog,    {}, {{kMixed, 0xBF30602E, -0.68896759}}},
    {"mixed, x y z, log",      kFilterOff,  2, kLog,    {}, {{kMixed, 0xBF34E4C5, -0.70661575}}},
    {"mixed, no axis, log",    kFilterOff, -1, kLog,    {}, {{kMixed, 0x00000000, 0.0}}},
    {"sign sum +0 counts as positive", kFilterOff, 1, kLinear, {},
     {{{0.0, -0.5, 0.5}, 0x3E3504F3, 0.17677669}}},
    {"sign sum -0 counts as positive", kFilterOff, 1, kLinear, {0.0, -0.0, -0.0}, {{{}, 0x00000000, 0.0}}},
    {"log, m = 1/60 sits at zero",     kFilterOff, 0, kLog,    {},
     {{{0.0, 0.0, -1.0 / 60.0}, 0x00000000, 0.0}}},
    {"log, m = 10^2.6/60 reaches one", kFilterOff, 0, kLog,    {},
     {{{0.0, 0.0, -6.6351194}, 0x3F800000, 1.0}}},
    {"log, m = 8",                     kFilterOff, 0, kLog,    {},
     {{{0.0, 0.0, -8.0}, 0x3F83FFE4, 1.0312467}}},
    {"linear, m = 8",                  kFilterOff, 0, kLinear, {}, {{{0.0, 0.0, -8.0}, 0x40000000, 2.0}}},
    {"scale 2 is linear",              kFilterOff, 0, 2,       {}, {{{0.0, 0.0, -8.0}, 0x40000000, 2.0}}},
    {"scale -1 is linear",             kFilterOff, 0, -1,      {}, {{{0.0, 0.0, -8.0}, 0x40000000, 2.0}}},
    // Width guards: each changes in its last bit when one 32-bit step is done in 64-bit instead.
    // A 64-bit log product gives 0x3F515FB5.
    {"width guard: log product", kFilterOff, 2, kLog, {},
     {{{-0.813, -1.885, 0.871}, 0x3F515FB6, 0.817866683}}},
    // An unrounded difference or a 64-bit sum and sqrt gives 0xBEE4365E.
    {"width guard: difference and sqrt", kFilterOff, 1, kLinear, {},
     {{{0.0, 1.043, 1.446}, 0xBEE4365D, -0.445727259}}},
    // Leaving the high-pass output in 64-bit gives 0xBE3A47A1 on the third sample.
    {"width guard: high-pass output", kFilterOn, 1, kLinear, {},
     {{{0.0, 1.416, -1.675}, 0x3E8C5F76, 0.274165809}, {{0.0, -1.777, -0.789}, 0x3F0878FD, 0.533096135},
      {{0.0, -1.568, -0.870}, 0xBE3A47A2, -0.181913882}}},
    // Keeping the high-pass memory in 32-bit gives 0xBE6140AE on the third sample.
    {"width guard: high-pass memory", kFilterOn, 1, kLinear, {},
     {{{0.0, 0.728, -0.991}, 0x3E1D6584, 0.153707564}, {{0.0, -1.663, 0.103}, 0x3ECB8FC6, 0.397581279},
      {{0.0, -1.212, 1.378}, 0xBE6140AF, -0.219973311}}},
    // Feeding the high-pass the 64-bit differences instead of their 32-bit roundings gives
    // 0xBEA1EA52 on the second sample. GCC 12 at -O3 did exactly that to the x and y lanes until the
    // differences were narrowed through a volatile.
    {"width guard: high-pass input", kFilterOn, 2, kLinear, {},
     {{{0.235, -1.217, 0.361}, 0x3E253EE8, 0.161372781},
      {{-0.615, 0.239, -0.555}, 0xBEA1EA51, -0.316240817}}},
};
// clang-format on

TEST(SampleConditioning, SequencesMatchToTheBit) {
    for (const SequenceCase& c : kSequences) {
        SCOPED_TRACE(c.name);
        State last = c.lastAcceleration;
        State filter{};
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE("sample " + std::to_string(i));
            const Step& step = c.steps[i];
            expectBits(step.bits, step.approx,
                       conditionSample(step.sample, last, filter, c.filter, c.axis, c.scale));
        }
    }
}

// With no axis selected the trace is flat, but the state keeps moving so that selecting an axis
// later picks up where the signal is, not from a stale sample.
TEST(SampleConditioning, UnknownAxisDrawsFlatButKeepsState) {
    for (const std::int32_t axis : {3, -1}) {
        for (const std::int32_t setting : {kFilterOff, kFilterOn}) {
            SCOPED_TRACE(std::to_string(axis) + "/" + std::to_string(setting));
            State last{}, filter{}, referenceLast{}, referenceFilter{};
            for (const platform::Acceleration& s :
                 {kMixed, kResting, platform::Acceleration{0.3, 0.2, -1.1}}) {
                expectBits(0, 0.0, conditionSample(s, last, filter, setting, axis, kLog));
                conditionSample(s, referenceLast, referenceFilter, setting, 2, kLog);
            }
            EXPECT_EQ(referenceLast, last);
            EXPECT_EQ(referenceFilter, filter);
        }
    }
}

TEST(SampleConditioning, ZeroMagnitudeOnLogScaleRaisesNoFloatingPointFlag) {
    State last{}, filter{};
    std::feclearexcept(FE_ALL_EXCEPT);
    const float value = conditionSample({}, last, filter, kFilterOff, 0, kLog);
    EXPECT_FALSE(std::fetestexcept(FE_DIVBYZERO | FE_INVALID));
    EXPECT_EQ(0u, std::bit_cast<std::uint32_t>(value));
}

// The four rates by index; any other index is the default, 40 a second.
TEST(SampleConditioning, UpdateFrequencyTable) {
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const std::tuple<std::int32_t, float, double> cases[] = {
        {0, 20.0f, 0.05},     {1, 40.0f, 0.025},   {2, 60.0f, 1.0 / static_cast<double>(60.0f)},
        {3, 200.0f, 0.005},   {-1, 40.0f, 0.025},  {4, 40.0f, 0.025},
        {kMin, 40.0f, 0.025}, {kMax, 40.0f, 0.025}};
    for (const auto& [index, rate, interval] : cases) {
        SCOPED_TRACE(index);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(rate),
                  std::bit_cast<std::uint32_t>(updateFrequencyRate(index)));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(interval),
                  std::bit_cast<std::uint64_t>(updateInterval(index)));
    }
}

} // namespace
