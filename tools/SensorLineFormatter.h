#pragma once
#include <cstdint>
#include <random>
#include <string>

// A quantity moved up and down through a range, a triangle wave starting at `low`:
// --ramp QUANTITY:LOW:HIGH:PERIOD_SECONDS, the quantity named as the alarms name it ("concentration" is every
// concentration the lines carry).
struct SensorRamp {
    std::string quantity;
    double low = 0;
    double high = 0;
    double periodSeconds = 0;
};
// Empty on success, else why the text is not a ramp.
std::string ParseSensorRamp(const std::string& text, SensorRamp& ramp);
// The ramp's value `seconds` after its start.
double RampValue(const SensorRamp& ramp, double seconds);

// Formats the lines a sensor sends (without the LF/CR framing), with values that drift slowly around
// plausible levels: counts near 50000, concentration fractions near 0.01, temperature about 21,
// pressure about 101.3, humidity about 45. Numbers are formatted without regard to the process locale.
class SensorLineFormatter {
public:
    explicit SensorLineFormatter(uint32_t seed = 1, std::string firmwareVersion = "1.7");

    const std::string& firmwareVersion() const { return firmware_; }
    // True for versions 1.7 and later 1.x (channel lines then sign their concentration, U lines carry a letter).
    bool newFirmware() const { return newFirmware_; }

    // Advances the values by one small step.
    void step();
    // Holds the ramp's quantity at the ramp's value `seconds` after its start (after each step()).
    void setRamp(const SensorRamp& ramp) { ramp_ = ramp; }
    void applyRamp(double seconds);

    std::string concentrationLine();      // "N v1 .. v8"
    std::string channelLine(int channel); // "N<ch> sample reference pwm conc temp pressure"
    // Other kinds by letter: C, E, O, D, X, U, A, R, S. Unknown letters give a line of no kind.
    std::string otherLine(char kind);
    // A line that a parser rejects or cannot classify (cycles through several faults).
    std::string malformedLine();
    // Random bytes (no XON/XOFF), CR and LF included.
    std::string garbage(int bytes);
    // Random bytes of any value 0..255: XON/XOFF, CR and LF included, as a noisy line delivers them.
    std::string noise(int bytes);

private:
    double walk(double& value, double mean, double spread, double stepSize);
    int uniform(int low, int high);

    std::mt19937 rng_;
    std::string firmware_;
    bool newFirmware_ = false;
    double conc_[5];
    double sample_ = 50000, reference_ = 49000, temperature_ = 21, pressure_ = 101.3, humidity_ = 45;
    SensorRamp ramp_;
    int cIndex_ = 0, eIndex_ = 0, oIndex_ = 0, potsIndex_ = 0, malformedIndex_ = 0;
};

// Appends a number: fixed with `decimals` digits (locale-independent).
void appendFixed(std::string& out, double value, int decimals, bool plusSign = false);
