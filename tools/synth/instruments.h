// The instruments of the soundtrack. Each adds its output into a stereo block
// of at most `max_block` samples; modulation is updated once per block.
#pragma once

#include "dsp.h"

#include <cstddef>
#include <vector>

namespace synth {

constexpr int max_block = 16;

// Keeps a retriggered one-shot continuous: the old output at the moment of
// the new hit fades out over a millisecond and a half instead of vanishing.
class declicker {
public:
    void retrigger(float last_output) { carry_ = last_output; }
    float next() {
        const float v = carry_;
        carry_ *= coef;
        return v;
    }

private:
    static constexpr float coef = 0.986f;  // about 1.5 ms at 48 kHz
    float carry_ = 0.0f;
};

// Sine with a falling pitch, a short noise click and soft saturation. The
// pitch settles on A1 (55 Hz), the key's root.
class kick {
public:
    kick();
    void trigger(float velocity);
    void render(float* l, float* r, int n);

private:
    oscillator body_{waveform::sine};
    noise_source noise_{0x4b1c4u};
    svf click_filter_;
    declicker declick_;
    int age_ = -1;
    float velocity_ = 0.0f, sweep_fast_ = 0.0f, sweep_slow_ = 0.0f, decay_ = 0.0f, click_ = 0.0f, last_ = 0.0f;
};

struct snare_patch {
    int bursts;          // 3 for a clap, 1 for a snare
    float band_hz;       // centre of the noise band
    float noise_decay;   // seconds (time constant of the tail)
    float tone_hz;       // body tone, 0 for none
    float tone_level;
    uint32_t seed;
    bool stereo = false;  // each side its own noise: a clap in a room rather than a point
    float drive = 0.0f;   // soft clip on the hit: rounds its first peak off, 0 = clean
};

// Band-passed noise bursts over a short pitched body: clap or snare.
class snare {
public:
    explicit snare(const snare_patch& patch);
    void trigger(float velocity);
    void render(float* l, float* r, int n);

private:
    snare_patch patch_;
    noise_source noise_;
    svf band_[2], high_[2], air_[2];
    oscillator tone_{waveform::sine};
    declicker declick_[2];
    int age_ = -1;
    float velocity_ = 0.0f, tail_ = 0.0f, tone_env_ = 0.0f, last_[2] = {};
};

// Metallic square cluster plus high-passed noise: hi-hat or crash cymbal.
// `pitch` scales the cluster; with `stereo` each side gets its own noise.
class cymbal {
public:
    cymbal(float decay_s, float highpass_hz, bool stereo, uint32_t seed, float pitch = 1.0f);
    void trigger(float velocity);
    // A closed hat cuts an open one: fast fade, no click.
    void choke();
    void render(float* l, float* r, int n);

private:
    std::vector<oscillator> partials_;
    noise_source noise_;
    svf high_l_, high_r_, low_l_, low_r_;
    float decay_coef_, choke_coef_, coef_;
    bool stereo_;
    int age_ = -1;
    float velocity_ = 0.0f, env_ = 0.0f;
};

// Noise swept up through a band-pass and swelling into the next section.
class riser {
public:
    riser();
    void trigger(float velocity, int length_samples);
    void render(float* l, float* r, int n);

private:
    noise_source noise_l_{0x51e7u}, noise_r_{0x7a11u};
    svf band_l_, band_r_;
    int age_ = -1, length_ = 1;
    float velocity_ = 0.0f, fade_ = 1.0f;
};

// Sub-bass drop for the big downbeats, falling onto the note it is given.
class impact {
public:
    impact();
    void trigger(float velocity, float settle_hz);
    void render(float* l, float* r, int n);

private:
    oscillator body_{waveform::sine};
    noise_source noise_{0x1a9au};
    svf low_, rumble_;
    declicker declick_;
    int age_ = -1;
    float velocity_ = 0.0f, settle_hz_ = 55.0f, env_ = 0.0f, last_ = 0.0f;
};

struct synth_patch {
    int unison = 1;               // detuned saws per note
    float detune_cents = 0.0f;    // outermost saw offset
    float stereo_spread = 0.0f;   // pan of the outermost saws (beyond 1, the outer ones sit hard left and right)
    float sub_level = 0.0f;       // sine an octave below
    float octave_level = 0.0f;    // each saw doubled an octave up, at this level, panned the other way
    float attack = 0.005f, decay = 0.3f, sustain = 0.7f, release = 0.1f;
    bool filtered = true;
    float filter_q = 0.707f;
    bool steep = false;               // a second filter stage after the first: 24 dB an octave
    float max_cutoff = 20000.0f;      // where the envelope and key tracking stop opening it
    float filter_env_octaves = 0.0f;  // cutoff lift at the note start
    float filter_decay = 0.2f;        // seconds to fall by 60 dB
    float key_tracking = 0.0f;        // 1: cutoff follows the note fully
    float glide = 0.05f;              // legato pitch time constant, seconds
    float vibrato_cents = 0.0f, vibrato_hz = 5.5f, vibrato_delay = 0.3f;
    float drive = 0.0f;               // soft clip amount, 0 = clean
    float gain = 1.0f;
};

class synth_voice {
public:
    synth_voice(const synth_patch& patch, uint32_t seed);
    // A fresh note; from silence the saw phases are scattered, otherwise they
    // run on and the envelope climbs from where it is.
    void start(int pitch, float velocity, int gate_samples);
    // Legato: glide to the new pitch without touching the envelopes.
    void glide_to(int pitch, int gate_samples);
    void render(float* l, float* r, int n, float cutoff_hz);
    bool active() const { return amp_.active(); }
    bool gated() const { return amp_.gated(); }
    float level() const { return amp_.level(); }

private:
    synth_patch patch_;
    noise_source noise_;
    std::vector<oscillator> saws_, octave_saws_;
    std::vector<float> detune_ratio_, gain_l_, gain_r_;
    oscillator sub_{waveform::sine};
    adsr amp_;
    svf filter_l_, filter_r_, steep_l_, steep_r_;
    float pitch_ = 60.0f, target_pitch_ = 60.0f, velocity_ = 0.0f, gain_ = 0.0f;
    float filter_env_ = 0.0f;
    bool filter_attack_ = false;
    double vibrato_phase_ = 0.0;
    int age_ = 0, gate_ = 0;
};

// A pool of voices; a single voice makes it monophonic with legato.
class poly_synth {
public:
    poly_synth(const synth_patch& patch, int voices, uint32_t seed);
    void note_on(int pitch, float velocity, int gate_samples, bool legato);
    void render(float* l, float* r, int n, float cutoff_hz);

private:
    std::vector<synth_voice> voices_;
    size_t next_ = 0;
};

}  // namespace synth
