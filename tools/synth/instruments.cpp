#include "instruments.h"

#include <algorithm>
#include <cmath>

namespace synth {

namespace {

constexpr float sr = static_cast<float>(sample_rate);

// Per-sample multiplier of an exponential with time constant `tau` seconds.
float decay_coef(float tau) { return std::exp(-1.0f / (tau * sr)); }

int samples(float seconds) { return static_cast<int>(seconds * sr); }

// Linear fade-in over `length` samples at the start of a one-shot.
float ramp(int age, int length) { return age >= length ? 1.0f : static_cast<float>(age) / length; }

// Linear fade over the last `length` samples before `end`.
float tail_fade(int age, int end, int length) {
    return age <= end - length ? 1.0f : std::max(0.0f, static_cast<float>(end - age) / length);
}

// The 808's six square partials: inharmonic enough to sound metallic.
const float metal_hz[] = {205.3f, 304.4f, 369.6f, 522.7f, 540.0f, 800.0f};

}  // namespace

kick::kick() { click_filter_.set(3200.0f, 0.8f); }

void kick::trigger(float velocity) {
    declick_.retrigger(last_);
    body_.set_phase(0.0);
    age_ = 0;
    velocity_ = velocity;
    sweep_fast_ = sweep_slow_ = decay_ = click_ = 1.0f;
}

void kick::render(float* l, float* r, int n) {
    // A short body, so the bass has the low end from the second 16th on.
    static const float fast = decay_coef(0.006f), slow = decay_coef(0.03f), body = decay_coef(0.12f),
                       click = decay_coef(0.0025f);
    static const int end = samples(0.3f), fade = samples(0.1f);
    for (int i = 0; i < n; ++i) {
        float out = declick_.next();
        if (age_ >= 0) {
            body_.set_frequency(55.0f + 95.0f * sweep_slow_ + 160.0f * sweep_fast_);
            sweep_fast_ *= fast;
            sweep_slow_ *= slow;
            const float amp = ramp(age_, 24) * decay_ * tail_fade(age_, end, fade);
            decay_ *= body;
            const float thump = soft_clip(1.3f * body_.next() * amp);
            const float tick = click_filter_.band(noise_.next()) * click_ * ramp(age_, 10);
            click_ *= click;
            out += (thump + 0.9f * tick) * velocity_;
            if (++age_ >= end) age_ = -1;
        }
        last_ = out;
        l[i] += out;
        r[i] += out;
    }
}

snare::snare(const snare_patch& patch) : patch_(patch), noise_(patch.seed) {
    for (int side = 0; side < 2; ++side) {
        band_[side].set(patch.band_hz, 1.2f);
        high_[side].set(5000.0f, 0.7f);
        air_[side].set(11000.0f, 0.6f);  // sizzle, not fizz
    }
}

void snare::trigger(float velocity) {
    declick_[0].retrigger(last_[0]);
    declick_[1].retrigger(last_[1]);
    tone_.set_phase(0.0);
    age_ = 0;
    velocity_ = velocity;
    tail_ = tone_env_ = 1.0f;
}

void snare::render(float* l, float* r, int n) {
    static const int spacing = samples(0.011f);
    static const float burst_tau = 0.0035f;
    static const float tone_coef = decay_coef(0.045f);
    const float tail_coef = decay_coef(patch_.noise_decay);
    const int tail_start = (patch_.bursts - 1) * spacing;
    const int end = tail_start + samples(6.0f * patch_.noise_decay);
    const int sides = patch_.stereo ? 2 : 1;
    for (int i = 0; i < n; ++i) {
        float out[2] = {declick_[0].next(), declick_[1].next()};
        if (age_ >= 0) {
            float env;
            if (age_ < tail_start) {
                const int burst_age = age_ % spacing;
                env = ramp(burst_age, 8) * std::exp(-burst_age / (burst_tau * sr));
            } else {
                env = ramp(age_ - tail_start, 8) * tail_;
                tail_ *= tail_coef;
            }
            env *= tail_fade(age_, end, samples(0.03f));
            float tone = 0.0f;
            if (patch_.tone_hz > 0.0f) {
                tone_.set_frequency(patch_.tone_hz * (1.0f + 0.4f * tone_env_));
                tone = tone_.next() * tone_env_ * patch_.tone_level * ramp(age_, 8) * tail_fade(age_, end, samples(0.03f));
                tone_env_ *= tone_coef;
            }
            for (int side = 0; side < sides; ++side) {
                const float x = noise_.next();
                const float noise = 1.6f * band_[side].band(x) + 0.35f * air_[side].low(high_[side].high(x));
                const float hit = noise * env + tone;
                out[side] += (patch_.drive > 0.0f ? soft_clip(hit * patch_.drive) / patch_.drive : hit) * velocity_;
            }
            if (++age_ >= end) age_ = -1;
        }
        if (sides == 1) out[1] = out[0];
        last_[0] = out[0];
        last_[1] = out[1];
        l[i] += out[0];
        r[i] += out[1];
    }
}

cymbal::cymbal(float decay_s, float highpass_hz, bool stereo, uint32_t seed, float pitch)
    : noise_(seed), decay_coef_(decay_coef(decay_s)), choke_coef_(decay_coef(0.004f)), coef_(decay_coef_), stereo_(stereo) {
    for (float hz : metal_hz) {
        partials_.emplace_back(waveform::square);
        partials_.back().set_frequency(hz * pitch);
    }
    high_l_.set(highpass_hz, 0.9f);
    high_r_.set(highpass_hz, 0.9f);
    // Real cymbals thin out towards 20 kHz; white noise up there only fizzes.
    low_l_.set(14000.0f, 0.6f);
    low_r_.set(14000.0f, 0.6f);
}

void cymbal::trigger(float velocity) {
    age_ = 0;
    velocity_ = velocity;
    coef_ = decay_coef_;
}

void cymbal::choke() {
    if (age_ >= 0) coef_ = choke_coef_;
}

void cymbal::render(float* l, float* r, int n) {
    if (age_ < 0) return;
    for (int i = 0; i < n; ++i) {
        // The envelope climbs from wherever it is over a fraction of a
        // millisecond, then falls exponentially.
        if (age_ < 12) env_ += (1.0f - env_) / static_cast<float>(12 - age_);
        else env_ *= coef_;
        float metal = 0.0f;
        for (oscillator& p : partials_) metal += p.next();
        metal *= 0.12f;
        const float a = low_l_.low(high_l_.high(metal + noise_.next())) * env_ * velocity_;
        const float b = stereo_ ? low_r_.low(high_r_.high(metal + noise_.next())) * env_ * velocity_ : a;
        l[i] += a;
        r[i] += b;
        ++age_;
    }
    if (env_ < 1e-4f && age_ > 12) {
        age_ = -1;
        env_ = 0.0f;
    }
}

riser::riser() {
    band_l_.set(250.0f, 2.0f);
    band_r_.set(250.0f, 2.0f);
}

void riser::trigger(float velocity, int length_samples) {
    age_ = 0;
    length_ = std::max(1, length_samples);
    velocity_ = velocity;
    fade_ = 1.0f;
}

void riser::render(float* l, float* r, int n) {
    if (age_ < 0) return;
    static const int fade_length = samples(0.03f);
    const float progress = std::min(1.0f, static_cast<float>(age_) / length_);
    const float cutoff = 250.0f * std::pow(9000.0f / 250.0f, progress);
    band_l_.set(cutoff, 2.0f);
    band_r_.set(cutoff, 2.0f);
    for (int i = 0; i < n; ++i) {
        const float p = std::min(1.0f, static_cast<float>(age_) / length_);
        if (age_ >= length_) fade_ = std::max(0.0f, fade_ - 1.0f / fade_length);
        const float level = velocity_ * p * p * fade_;
        l[i] += band_l_.band(noise_l_.next()) * level;
        r[i] += band_r_.band(noise_r_.next()) * level;
        ++age_;
    }
    if (fade_ <= 0.0f) age_ = -1;
}

impact::impact() {
    low_.set(220.0f, 0.7f);
    rumble_.set(40.0f, 0.7f);  // the noise's boom stays above what a PA plays
}

void impact::trigger(float velocity, float settle_hz) {
    declick_.retrigger(last_);
    body_.set_phase(0.0);
    age_ = 0;
    velocity_ = velocity;
    settle_hz_ = settle_hz;
    env_ = 1.0f;
}

void impact::render(float* l, float* r, int n) {
    static const float coef = decay_coef(0.6f);
    static const int end = samples(2.6f), fade = samples(0.4f);
    for (int i = 0; i < n; ++i) {
        float out = declick_.next();
        if (age_ >= 0) {
            const float t = age_ / sr;
            body_.set_frequency(settle_hz_ * (1.0f + 2.0f * std::exp(-t / 0.15f)));
            const float env = env_ * ramp(age_, 48) * tail_fade(age_, end, fade);
            env_ *= coef;
            const float boom = rumble_.high(low_.low(noise_.next())) * std::exp(-t / 0.15f);
            out += (soft_clip(1.2f * body_.next() * env) + 0.8f * boom * ramp(age_, 48)) * velocity_;
            if (++age_ >= end) age_ = -1;
        }
        last_ = out;
        l[i] += out;
        r[i] += out;
    }
}

synth_voice::synth_voice(const synth_patch& patch, uint32_t seed) : patch_(patch), noise_(seed) {
    const int count = std::max(1, patch.unison);
    for (int i = 0; i < count; ++i) {
        const float position = count == 1 ? 0.0f : 2.0f * i / (count - 1) - 1.0f;
        saws_.emplace_back(waveform::saw);
        if (patch.octave_level > 0.0f) octave_saws_.emplace_back(waveform::saw);
        detune_ratio_.push_back(std::pow(2.0f, position * patch.detune_cents / 1200.0f));
        float gl, gr;
        pan_gains(position * patch.stereo_spread, gl, gr);
        gain_l_.push_back(gl / std::sqrt(static_cast<float>(count)));
        gain_r_.push_back(gr / std::sqrt(static_cast<float>(count)));
    }
    amp_.set(patch.attack, patch.decay, patch.sustain, patch.release);
}

void synth_voice::start(int pitch, float velocity, int gate_samples) {
    if (!amp_.active()) {
        for (oscillator& s : saws_) s.set_phase(noise_.unit());
        for (oscillator& s : octave_saws_) s.set_phase(noise_.unit());
        sub_.set_phase(0.0);
        filter_l_.reset();
        filter_r_.reset();
        steep_l_.reset();
        steep_r_.reset();
        vibrato_phase_ = 0.0;
        filter_env_ = 0.0f;
        gain_ = velocity;
    }
    pitch_ = target_pitch_ = static_cast<float>(pitch);
    velocity_ = velocity;
    age_ = 0;
    gate_ = gate_samples;
    filter_attack_ = true;
    amp_.gate_on();
}

void synth_voice::glide_to(int pitch, int gate_samples) {
    target_pitch_ = static_cast<float>(pitch);
    gate_ = gate_samples;
}

void synth_voice::render(float* l, float* r, int n, float cutoff_hz) {
    if (gate_ <= 0 && amp_.gated()) amp_.gate_off();
    gate_ -= n;
    if (!amp_.active()) return;

    const float block_seconds = static_cast<float>(n) / sr;
    if (patch_.glide > 0.0f) pitch_ += (target_pitch_ - pitch_) * (1.0f - std::exp(-block_seconds / patch_.glide));
    else pitch_ = target_pitch_;
    float pitch = pitch_;
    if (patch_.vibrato_cents > 0.0f) {
        const float depth = std::clamp((age_ / sr - patch_.vibrato_delay) / 0.4f, 0.0f, 1.0f);
        pitch += depth * patch_.vibrato_cents / 100.0f * static_cast<float>(std::sin(vibrato_phase_));
        vibrato_phase_ += two_pi * patch_.vibrato_hz * block_seconds;
    }
    age_ += n;
    const float hz = midi_to_hz(pitch);
    for (size_t i = 0; i < saws_.size(); ++i) saws_[i].set_frequency(hz * detune_ratio_[i]);
    for (size_t i = 0; i < octave_saws_.size(); ++i) octave_saws_[i].set_frequency(2.0f * hz * detune_ratio_[i]);
    sub_.set_frequency(hz * 0.5f);

    // The filter envelope rises over about a millisecond (a jump in cutoff
    // under a sounding note would tick), then falls.
    if (filter_attack_) {
        filter_env_ += (1.0f - filter_env_) * 0.3f;
        if (filter_env_ > 0.98f) filter_attack_ = false;
    } else {
        filter_env_ *= std::exp(-6.9f * block_seconds / patch_.filter_decay);
    }
    const bool stereo = patch_.stereo_spread > 0.0f;
    if (patch_.filtered) {
        const float cutoff = std::min(patch_.max_cutoff, cutoff_hz * std::exp2(patch_.filter_env_octaves * filter_env_ * velocity_ +
                                                                               patch_.key_tracking * (pitch - 60.0f) / 12.0f));
        filter_l_.set(cutoff, patch_.filter_q);
        if (stereo) filter_r_.set(cutoff, patch_.filter_q);
        if (patch_.steep) {
            steep_l_.set(cutoff, 0.7071f);
            if (stereo) steep_r_.set(cutoff, 0.7071f);
        }
    }

    const float drive = 1.0f + patch_.drive;
    for (int i = 0; i < n; ++i) {
        float a = 0.0f, b = 0.0f;
        for (size_t k = 0; k < saws_.size(); ++k) {
            const float s = saws_[k].next();
            a += s * gain_l_[k];
            b += s * gain_r_[k];
            if (!octave_saws_.empty()) {
                // Each octave saw sits on the other side from its partner.
                const float o = patch_.octave_level * octave_saws_[k].next();
                a += o * gain_r_[k];
                b += o * gain_l_[k];
            }
        }
        if (patch_.filtered) {
            a = filter_l_.low(a);
            b = stereo ? filter_r_.low(b) : a;
            if (patch_.steep) {
                a = steep_l_.low(a);
                b = stereo ? steep_r_.low(b) : a;
            }
        }
        if (patch_.sub_level > 0.0f) {
            const float sub = sub_.next() * patch_.sub_level;
            a += sub;
            b += sub;
        }
        if (patch_.drive > 0.0f) {
            a = soft_clip(a * drive) / drive;
            b = soft_clip(b * drive) / drive;
        }
        // Velocity glides too, so a louder retrigger does not step.
        gain_ += (velocity_ - gain_) * 0.01f;
        const float g = amp_.next() * gain_ * patch_.gain;
        l[i] += a * g;
        r[i] += b * g;
    }
}

poly_synth::poly_synth(const synth_patch& patch, int voices, uint32_t seed) {
    for (int i = 0; i < voices; ++i) voices_.emplace_back(patch, seed + 7919u * static_cast<uint32_t>(i));
}

void poly_synth::note_on(int pitch, float velocity, int gate_samples, bool legato) {
    if (voices_.size() == 1) {
        synth_voice& v = voices_[0];
        if (legato && v.gated()) v.glide_to(pitch, gate_samples);
        else v.start(pitch, velocity, gate_samples);
        return;
    }
    // Prefer a silent voice (round robin); otherwise take the quietest.
    for (size_t k = 0; k < voices_.size(); ++k) {
        synth_voice& v = voices_[(next_ + k) % voices_.size()];
        if (!v.active()) {
            v.start(pitch, velocity, gate_samples);
            next_ = (next_ + k + 1) % voices_.size();
            return;
        }
    }
    synth_voice* quietest = &voices_[0];
    for (synth_voice& v : voices_)
        if (v.level() < quietest->level()) quietest = &v;
    quietest->start(pitch, velocity, gate_samples);
}

void poly_synth::render(float* l, float* r, int n, float cutoff_hz) {
    for (synth_voice& v : voices_) v.render(l, r, n, cutoff_hz);
}

}  // namespace synth
