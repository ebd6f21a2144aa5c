// Building blocks of the synthesizer: noise, band-limited oscillators,
// envelopes, filters and effects. Everything is plain float/double code with
// no hidden global state, so a render is bit-for-bit repeatable.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace synth {

constexpr int sample_rate = 48000;
constexpr double two_pi = 6.283185307179586;

float midi_to_hz(float note);
float db_to_gain(float db);

// Constant-power pan, position -1 (left) .. +1 (right).
void pan_gains(float position, float& left, float& right);

// xorshift32: the only source of randomness, seeded per instrument.
class noise_source {
public:
    explicit noise_source(uint32_t seed) : state_(seed ? seed : 0x9e3779b9u) {}
    uint32_t next_u32() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // Uniform in [-1, 1).
    float next() { return static_cast<float>(static_cast<int32_t>(next_u32())) * (1.0f / 2147483648.0f); }
    // Uniform in [0, 1).
    float unit() { return static_cast<float>(next_u32() >> 8) * (1.0f / 16777216.0f); }

private:
    uint32_t state_;
};

enum class waveform { sine, saw, square };

// Additively built single-cycle tables, one per harmonic count. A note reads
// the table whose highest harmonic stays under 0.45 * sample rate, so nothing
// folds back below Nyquist, whatever the pitch.
class wavetable_bank {
public:
    static constexpr int size = 4096;  // must match oscillator::frac_bits
    static const wavetable_bank& get(waveform w);
    // Table (size + 1 samples, the last repeats the first) for a phase
    // increment in cycles per sample.
    const float* table_for(double increment) const;

private:
    explicit wavetable_bank(waveform w);
    std::vector<std::vector<float>> tables_;
    std::vector<int> table_by_harmonics_;
};

class oscillator {
public:
    explicit oscillator(waveform w = waveform::saw);
    void set_frequency(double hz);
    void set_phase(double cycles) { phase_ = static_cast<uint32_t>((cycles - std::floor(cycles)) * 4294967296.0); }
    double phase() const { return phase_ / 4294967296.0; }
    float next() {
        // 32-bit fixed-point phase: the top bits index the table, the rest
        // interpolate. Wraps by itself; pitch error is far below 0.001 Hz.
        const uint32_t i = phase_ >> frac_bits;
        const float frac = static_cast<float>(phase_ & frac_mask) * (1.0f / (1u << frac_bits));
        const float v = table_[i] + frac * (table_[i + 1] - table_[i]);
        phase_ += increment_;
        return v;
    }

private:
    static constexpr int frac_bits = 20;  // 32 - log2(wavetable_bank::size)
    static constexpr uint32_t frac_mask = (1u << frac_bits) - 1;
    const wavetable_bank* bank_;
    const float* table_;
    uint32_t phase_ = 0;
    uint32_t increment_ = 0;
    double hz_ = -1.0;
};

// Linear attack, exponential decay and release. A new gate restarts the
// attack from the current level, and attack/release never go below a few
// milliseconds, so envelopes cannot step. The output is rounded off by a
// half-millisecond smoother so the corners between stages do not tick either.
class adsr {
public:
    static constexpr float min_attack = 0.002f;
    static constexpr float min_release = 0.008f;
    // Times in seconds; decay and release are the times to fall by 60 dB.
    void set(float attack, float decay, float sustain, float release);
    void gate_on();
    void gate_off();
    bool active() const { return stage_ != stage::idle || out_ > 1e-5f; }
    bool gated() const { return stage_ == stage::attack || stage_ == stage::decay || stage_ == stage::sustain; }
    float level() const { return out_; }
    float next() {
        step();
        out_ += (level_ - out_) * smoothing;
        if (stage_ == stage::idle && out_ < 1e-5f) out_ = 0.0f;
        return out_;
    }

private:
    enum class stage { idle, attack, decay, sustain, release };
    static constexpr float smoothing = 0.04f;  // about 0.5 ms at 48 kHz

    void step() {
        switch (stage_) {
        case stage::idle: break;
        case stage::attack:
            level_ += attack_step_;
            if (level_ >= 1.0f) {
                level_ = 1.0f;
                stage_ = stage::decay;
            }
            break;
        case stage::decay:
            level_ = sustain_ + (level_ - sustain_) * decay_coef_;
            if (level_ - sustain_ < 1e-4f) {
                level_ = sustain_;
                stage_ = sustain_ > 0.0f ? stage::sustain : stage::idle;
            }
            break;
        case stage::sustain: level_ = sustain_; break;
        case stage::release:
            level_ *= release_coef_;
            if (level_ < 1e-4f) {
                level_ = 0.0f;
                stage_ = stage::idle;
            }
            break;
        }
    }

    stage stage_ = stage::idle;
    float level_ = 0.0f, out_ = 0.0f;
    float attack_step_ = 1.0f;
    float decay_coef_ = 0.0f;
    float sustain_ = 1.0f;
    float release_coef_ = 0.0f;
};

// Topology-preserving state-variable filter (trapezoidal integration). It
// stays stable and quiet while the cutoff moves.
class svf {
public:
    struct outputs {
        float low, band, high;
    };
    svf() { set(1000.0f, 0.7071f); }
    void set(float cutoff_hz, float q);
    outputs process(float x) {
        const float v3 = x - ic2_;
        const float v1 = a1_ * ic1_ + a2_ * v3;
        const float v2 = ic2_ + a2_ * ic1_ + a3_ * v3;
        ic1_ = 2.0f * v1 - ic1_;
        ic2_ = 2.0f * v2 - ic2_;
        return {v2, v1, x - k_ * v1 - v2};
    }
    float low(float x) { return process(x).low; }
    float band(float x) { return process(x).band; }
    float high(float x) { return process(x).high; }
    void reset() { ic1_ = ic2_ = 0.0f; }

private:
    float k_ = 1.0f, a1_ = 0.0f, a2_ = 0.0f, a3_ = 0.0f;
    float ic1_ = 0.0f, ic2_ = 0.0f;
};

class one_pole {
public:
    void set_lowpass(float cutoff_hz);
    float low(float x) {
        state_ += coef_ * (x - state_);
        return state_;
    }
    float high(float x) { return x - low(x); }

private:
    float coef_ = 1.0f;
    float state_ = 0.0f;
};

class delay_line {
public:
    explicit delay_line(int max_delay);
    void write(float x) {
        buffer_[pos_] = x;
        pos_ = (pos_ + 1) & mask_;
    }
    // Sample written `delay` writes ago (delay >= 1).
    float read(int delay) const { return buffer_[(pos_ - delay) & mask_]; }

private:
    std::vector<float> buffer_;
    int mask_;
    int pos_ = 0;
};

// Stereo ping-pong echo: a mono sum bounces left, right, left...
class ping_pong_delay {
public:
    ping_pong_delay(int delay_samples, float feedback, float damping_hz);
    void process(float in_l, float in_r, float& out_l, float& out_r);

private:
    delay_line left_, right_;
    int delay_;
    float feedback_;
    one_pole damp_l_, damp_r_;
};

// Freeverb-style: eight damped combs and four allpasses per side, the right
// side slightly longer for width.
class reverb {
public:
    reverb(float room, float damping);
    void process(float in_l, float in_r, float& out_l, float& out_r);

private:
    struct comb {
        delay_line line;
        int length;
        float store = 0.0f;
    };
    struct allpass {
        delay_line line;
        int length;
    };
    std::vector<comb> combs_[2];
    std::vector<allpass> allpasses_[2];
    float feedback_, damping_;
    one_pole input_highpass_;
};

// Feed-forward stereo-linked compressor with a soft knee.
class compressor {
public:
    compressor(float threshold_db, float ratio, float attack_s, float release_s, float knee_db);
    // The detector runs once per block on the block's peak; the gain moves
    // linearly across the block. `applied` (if given) gets each sample's gain.
    void process(float* l, float* r, int n, float* applied = nullptr);
    float gain_reduction_db() const { return reduction_db_; }

private:
    float threshold_, ratio_, knee_;
    float attack_coef_, release_coef_;
    float reduction_db_ = 0.0f;
    float gain_ = 1.0f;
};

// Sidechain envelope driven by kick triggers: dips within a couple of
// milliseconds, holds for `hold_s`, recovers with the time constant
// `release_s`.
class ducker {
public:
    ducker(float hold_s, float release_s);
    void trigger() { hold_ = hold_samples_; }
    float next();

private:
    int hold_samples_;
    float attack_, release_;
    float env_ = 0.0f;
    int hold_ = 0;
};

inline float soft_clip(float x) {
    // Cubic soft clip, linear near zero, saturating at +/-1.
    if (x > 1.5f) return 1.0f;
    if (x < -1.5f) return -1.0f;
    return x - (4.0f / 27.0f) * x * x * x;
}

}  // namespace synth
