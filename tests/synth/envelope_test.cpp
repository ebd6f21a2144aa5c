// Envelopes and voices must never step: starts, ends, retriggers and legato
// changes may not move the signal faster than the steady waveform does.
#include "analysis.h"
#include "dsp.h"
#include "instruments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

constexpr int rate = synth::sample_rate;
constexpr int ms = rate / 1000;

// Small headroom for the envelope's own slope on top of the waveform's.
constexpr float tolerance = 1.1f;

// Sine through an ADSR; `events(i, env)` may gate the envelope at sample i.
std::vector<float> enveloped_sine(synth::adsr& env, int length, const std::function<void(int, synth::adsr&)>& events) {
    synth::oscillator osc(synth::waveform::sine);
    osc.set_frequency(440.0);
    std::vector<float> out(length);
    for (int i = 0; i < length; ++i) {
        events(i, env);
        out[i] = osc.next() * env.next();
    }
    return out;
}

float steady_sine_step() {
    synth::oscillator osc(synth::waveform::sine);
    osc.set_frequency(440.0);
    std::vector<float> x(rate / 10);
    for (float& v : x) v = osc.next();
    return analysis::max_step(x, 0, x.size());
}

}  // namespace

TEST(Envelope, InstantSettingsStillRampSmoothly) {
    // Zero attack and release are asked for; the envelope must still ramp.
    synth::adsr env;
    env.set(0.0f, 0.1f, 0.8f, 0.0f);
    const std::vector<float> x = enveloped_sine(env, 300 * ms, [](int i, synth::adsr& e) {
        if (i == 10 * ms) e.gate_on();
        if (i == 200 * ms) e.gate_off();
    });
    const float bound = steady_sine_step() * tolerance;
    EXPECT_LE(analysis::max_step(x, 0, 100 * ms), bound) << "attack";
    EXPECT_LE(analysis::max_step(x, 190 * ms, x.size()), bound) << "release";
    EXPECT_FALSE(env.active()) << "the release must end";
}

TEST(Envelope, RetriggerContinuesFromTheCurrentLevel) {
    synth::adsr env;
    env.set(0.005f, 0.2f, 0.6f, 0.15f);
    float level_before_retrigger = 0.0f, level_before_release_retrigger = 0.0f;
    const std::vector<float> x = enveloped_sine(env, 600 * ms, [&](int i, synth::adsr& e) {
        if (i == 10 * ms) e.gate_on();
        if (i == 60 * ms) {  // mid decay
            level_before_retrigger = e.level();
            e.gate_on();
        }
        if (i == 300 * ms) e.gate_off();
        if (i == 330 * ms) {  // mid release
            level_before_release_retrigger = e.level();
            e.gate_on();
        }
        if (i == 500 * ms) e.gate_off();
    });
    ASSERT_GT(level_before_retrigger, 0.6f);
    ASSERT_GT(level_before_release_retrigger, 0.05f);
    EXPECT_LE(analysis::max_step(x, 0, x.size()), steady_sine_step() * tolerance);
}

TEST(Envelope, ReachesSustainThenSilence) {
    synth::adsr env;
    env.set(0.01f, 0.05f, 0.5f, 0.05f);
    env.gate_on();
    for (int i = 0; i < 200 * ms; ++i) env.next();
    EXPECT_NEAR(env.level(), 0.5f, 1e-3f);
    EXPECT_TRUE(env.gated());
    env.gate_off();
    // 60 dB in 50 ms, then the last few dB down to silence.
    for (int i = 0; i < 80 * ms; ++i) env.next();
    EXPECT_FALSE(env.active());
    EXPECT_EQ(env.level(), 0.0f);
}

TEST(Voice, NoteChangesDoNotStep) {
    // A filtered saw lead: start from silence, legato glide, retrigger at a
    // new pitch, release; compare each moment with the steady note.
    synth::synth_patch patch;
    patch.unison = 1;  // detuned copies would make the steady reference wander
    patch.sub_level = 0.3f;
    patch.attack = 0.0f;
    patch.decay = 0.3f;
    patch.sustain = 1.0f;  // the steady note then plays at the envelope's peak
    patch.release = 0.0f;
    patch.filter_q = 1.3f;
    patch.glide = 0.03f;

    synth::synth_voice voice(patch, 1234u);
    const int length = 1400 * ms;
    std::vector<float> left(length, 0.0f), right(length, 0.0f);
    for (int pos = 0; pos < length; pos += synth::max_block) {
        if (pos == 20 * ms) voice.start(57, 1.0f, 1000 * rate);            // A3 from silence
        if (pos == 400 * ms) voice.glide_to(64, 1000 * rate);              // legato up to E4
        if (pos == 800 * ms) voice.start(60, 0.8f, 300 * ms);              // retrigger C4, released at 1.1 s
        voice.render(&left[pos], &right[pos], synth::max_block, 1500.0f);
    }
    // The brightest steady note (E4) sets the bound.
    const float steady = std::max(analysis::max_step(left, 600 * ms, 800 * ms), analysis::max_step(right, 600 * ms, 800 * ms));
    ASSERT_GT(steady, 0.0f);
    const struct {
        const char* what;
        int from, to;
    } moments[] = {{"start", 0, 60}, {"legato", 390, 460}, {"retrigger", 790, 850}, {"release", 1090, 1400}};
    for (const auto& m : moments) {
        for (const std::vector<float>* ch : {&left, &right})
            EXPECT_LE(analysis::max_step(*ch, m.from * ms, m.to * ms), steady * tolerance) << m.what;
    }
    EXPECT_FALSE(voice.active()) << "the note must have died away";
}
