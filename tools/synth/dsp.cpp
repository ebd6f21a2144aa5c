#include "dsp.h"

#include <algorithm>
#include <cmath>

namespace synth {

namespace {

constexpr float sr = static_cast<float>(sample_rate);

// Fraction of the sample rate under which every table harmonic must stay.
constexpr double harmonic_limit = 0.45;
// Enough harmonics for a full band down to about 10 Hz.
constexpr int max_harmonics = 2048;

float coef_for_time(float seconds, float fall_db) {
    return std::exp(std::log(std::pow(10.0f, -fall_db / 20.0f)) / (seconds * sr));
}

float smoothing_coef(float seconds) { return std::exp(-1.0f / (seconds * sr)); }

}  // namespace

float midi_to_hz(float note) { return 440.0f * std::pow(2.0f, (note - 69.0f) / 12.0f); }

float db_to_gain(float db) { return std::pow(10.0f, db / 20.0f); }

void pan_gains(float position, float& left, float& right) {
    const float angle = (std::clamp(position, -1.0f, 1.0f) + 1.0f) * 0.25f * static_cast<float>(M_PI);
    left = std::cos(angle) * static_cast<float>(M_SQRT2);
    right = std::sin(angle) * static_cast<float>(M_SQRT2);
}

const wavetable_bank& wavetable_bank::get(waveform w) {
    static const wavetable_bank sine(waveform::sine);
    static const wavetable_bank saw(waveform::saw);
    static const wavetable_bank square(waveform::square);
    switch (w) {
    case waveform::sine: return sine;
    case waveform::square: return square;
    default: return saw;
    }
}

wavetable_bank::wavetable_bank(waveform w) {
    // Harmonic counts that get a table: every count up to 64, then steps of
    // about 6% (the dropped top harmonics sit above 20 kHz).
    std::vector<int> counts;
    if (w == waveform::sine) {
        counts.push_back(1);
    } else {
        for (int n = 1; n <= 64; ++n) counts.push_back(n);
        while (counts.back() < max_harmonics)
            counts.push_back(std::min(max_harmonics, static_cast<int>(std::ceil(counts.back() * 1.06))));
    }

    std::vector<double> sine_table(size);
    for (int i = 0; i < size; ++i) sine_table[i] = std::sin(two_pi * i / size);

    static_assert(size == 1 << 12, "the oscillator's phase bits assume 4096-entry tables");
    tables_.emplace_back(size + 1, 0.0f);  // silent table for notes above the limit
    std::vector<double> sum(size, 0.0);
    int harmonic = 0;
    for (int count : counts) {
        for (++harmonic; harmonic <= count; ++harmonic) {
            double amplitude = 0.0;
            if (w == waveform::sine) amplitude = 1.0;
            else if (w == waveform::saw) amplitude = -2.0 / (M_PI * harmonic);
            else if (harmonic % 2 == 1) amplitude = 4.0 / (M_PI * harmonic);
            if (amplitude == 0.0) continue;
            for (int i = 0; i < size; ++i)
                sum[i] += amplitude * sine_table[(static_cast<long>(harmonic) * i) & (size - 1)];
        }
        --harmonic;
        std::vector<float> table(size + 1);
        for (int i = 0; i < size; ++i) table[i] = static_cast<float>(sum[i]);
        table[size] = table[0];
        tables_.push_back(std::move(table));
    }

    table_by_harmonics_.assign(max_harmonics + 1, 0);
    size_t next = 0;
    for (int h = 1; h <= max_harmonics; ++h) {
        while (next < counts.size() && counts[next] <= h) ++next;
        table_by_harmonics_[h] = static_cast<int>(next);  // tables_[k] holds counts[k - 1]
    }
}

const float* wavetable_bank::table_for(double increment) const {
    increment = std::fabs(increment);
    int harmonics = max_harmonics;
    if (increment > harmonic_limit / max_harmonics) harmonics = static_cast<int>(harmonic_limit / increment);
    return tables_[table_by_harmonics_[harmonics]].data();
}

oscillator::oscillator(waveform w) : bank_(&wavetable_bank::get(w)), table_(bank_->table_for(0.0)) {}

void oscillator::set_frequency(double hz) {
    if (hz == hz_) return;
    hz_ = hz;
    const double increment = hz / sample_rate;
    increment_ = static_cast<uint32_t>(std::llround(increment * 4294967296.0));
    table_ = bank_->table_for(increment);
}

void adsr::set(float attack, float decay, float sustain, float release) {
    attack_step_ = 1.0f / (std::max(attack, min_attack) * sr);
    decay_coef_ = coef_for_time(std::max(decay, 0.001f), 60.0f);
    sustain_ = std::clamp(sustain, 0.0f, 1.0f);
    release_coef_ = coef_for_time(std::max(release, min_release), 60.0f);
}

void adsr::gate_on() { stage_ = stage::attack; }

void adsr::gate_off() {
    if (stage_ != stage::idle) stage_ = stage::release;
}

void svf::set(float cutoff_hz, float q) {
    const float fc = std::clamp(cutoff_hz, 10.0f, 0.47f * sr);
    const float g = std::tan(static_cast<float>(M_PI) * fc / sr);
    k_ = 1.0f / std::max(q, 0.5f);
    a1_ = 1.0f / (1.0f + g * (g + k_));
    a2_ = g * a1_;
    a3_ = g * a2_;
}

void one_pole::set_lowpass(float cutoff_hz) { coef_ = 1.0f - std::exp(-static_cast<float>(two_pi) * cutoff_hz / sr); }

delay_line::delay_line(int max_delay) {
    int n = 1;
    while (n < max_delay + 1) n *= 2;
    buffer_.assign(n, 0.0f);
    mask_ = n - 1;
}

ping_pong_delay::ping_pong_delay(int delay_samples, float feedback, float damping_hz)
    : left_(delay_samples), right_(delay_samples), delay_(delay_samples), feedback_(feedback) {
    damp_l_.set_lowpass(damping_hz);
    damp_r_.set_lowpass(damping_hz);
}

void ping_pong_delay::process(float in_l, float in_r, float& out_l, float& out_r) {
    out_l = left_.read(delay_);
    out_r = right_.read(delay_);
    left_.write(0.5f * (in_l + in_r) + feedback_ * damp_l_.low(out_r));
    right_.write(feedback_ * damp_r_.low(out_l));
}

reverb::reverb(float room, float damping) : feedback_(0.7f + 0.28f * room), damping_(0.4f * damping) {
    static const int comb_tuning[] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    static const int allpass_tuning[] = {556, 441, 341, 225};
    const int spread = 23;
    for (int side = 0; side < 2; ++side) {
        for (int t : comb_tuning) {
            const int length = (t + side * spread) * sample_rate / 44100;
            combs_[side].push_back({delay_line(length), length});
        }
        for (int t : allpass_tuning) {
            const int length = (t + side * spread) * sample_rate / 44100;
            allpasses_[side].push_back({delay_line(length), length});
        }
    }
    input_highpass_.set_lowpass(200.0f);
}

void reverb::process(float in_l, float in_r, float& out_l, float& out_r) {
    const float input = input_highpass_.high(0.5f * (in_l + in_r)) * 0.03f;
    float out[2];
    for (int side = 0; side < 2; ++side) {
        float acc = 0.0f;
        for (comb& c : combs_[side]) {
            const float y = c.line.read(c.length);
            c.store = y * (1.0f - damping_) + c.store * damping_;
            c.line.write(input + c.store * feedback_);
            acc += y;
        }
        for (allpass& a : allpasses_[side]) {
            const float delayed = a.line.read(a.length);
            a.line.write(acc + delayed * 0.5f);
            acc = delayed - acc;
        }
        out[side] = acc;
    }
    out_l = out[0];
    out_r = out[1];
}

compressor::compressor(float threshold_db, float ratio, float attack_s, float release_s, float knee_db)
    : threshold_(threshold_db),
      ratio_(ratio),
      knee_(knee_db),
      attack_coef_(smoothing_coef(attack_s)),
      release_coef_(smoothing_coef(release_s)) {}

void compressor::process(float* l, float* r, int n, float* applied) {
    float peak = 0.0f;
    for (int i = 0; i < n; ++i) peak = std::max({peak, std::fabs(l[i]), std::fabs(r[i])});
    const float over = 20.0f * std::log10(std::max(peak, 1e-6f)) - threshold_;
    const float slope = 1.0f / ratio_ - 1.0f;
    float target = 0.0f;
    if (2.0f * over >= knee_) target = slope * over;
    else if (2.0f * over > -knee_) target = slope * (over + 0.5f * knee_) * (over + 0.5f * knee_) / (2.0f * knee_);
    const float coef = std::pow(target < reduction_db_ ? attack_coef_ : release_coef_, static_cast<float>(n));
    reduction_db_ = target + (reduction_db_ - target) * coef;
    const float gain = db_to_gain(reduction_db_);
    const float step = (gain - gain_) / static_cast<float>(n);
    for (int i = 0; i < n; ++i) {
        gain_ += step;
        l[i] *= gain_;
        r[i] *= gain_;
        if (applied) applied[i] = gain_;
    }
    gain_ = gain;
}

ducker::ducker(float hold_s, float release_s)
    : hold_samples_(static_cast<int>(hold_s * sr)), attack_(1.0f - smoothing_coef(0.0015f)), release_(smoothing_coef(release_s)) {}

float ducker::next() {
    if (hold_ > 0) {
        --hold_;
        env_ += (1.0f - env_) * attack_;
    } else {
        env_ *= release_;
    }
    return env_;
}

}  // namespace synth
