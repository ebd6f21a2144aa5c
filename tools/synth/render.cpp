#include "render.h"

#include "dsp.h"
#include "instruments.h"

#include <ebur128.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <stdexcept>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace synth {

namespace {

// Faders and sends, one row per track.
struct channel {
    float gain;
    float pan;
    float reverb;  // send levels
    float delay;
    float duck;    // sidechain depth from the kick, 0 = none
    bool tight;    // ducks on the short envelope (else on the pump)
};
const channel mixer[song::track_count] = {
    /* kick     */ {1.00f, 0.0f, 0.02f, 0.0f, 0.0f, false},
    /* clap     */ {1.50f, 0.0f, 0.30f, 0.0f, 0.0f, false},
    /* snare    */ {1.90f, 0.1f, 0.40f, 0.0f, 0.0f, false},
    /* hat      */ {0.85f, 0.3f, 0.06f, 0.0f, 0.0f, false},
    /* open hat */ {0.48f, -0.3f, 0.10f, 0.0f, 0.0f, false},
    /* crash    */ {0.32f, 0.0f, 0.20f, 0.0f, 0.0f, false},
    /* ride     */ {0.25f, 0.25f, 0.15f, 0.0f, 0.0f, false},
    /* riser    */ {0.18f, 0.0f, 0.30f, 0.0f, 0.0f, false},
    /* impact   */ {0.60f, 0.0f, 0.15f, 0.0f, 0.0f, false},
    /* bass     */ {0.90f, 0.0f, 0.00f, 0.0f, 0.9f, true},
    /* drone    */ {0.16f, 0.0f, 0.05f, 0.0f, 0.0f, false},
    /* pad      */ {0.155f, 0.0f, 0.35f, 0.0f, 0.65f, false},
    /* arp      */ {0.49f, 0.0f, 0.25f, 0.35f, 0.35f, false},
    /* sparkle  */ {0.90f, 0.0f, 0.30f, 0.45f, 0.3f, false},
    /* lead     */ {0.27f, 0.0f, 0.22f, 0.28f, 0.12f, false},
    /* harmony  */ {0.30f, -0.4f, 0.30f, 0.30f, 0.12f, false},
    /* counter  */ {0.56f, 0.35f, 0.25f, 0.20f, 0.2f, false},
};
constexpr float reverb_return = 1.0f;
constexpr float delay_return = 0.55f;
constexpr float delay_to_reverb = 0.3f;

synth_patch pad_patch() {
    synth_patch p;
    p.unison = 5;
    p.detune_cents = 16.0f;
    p.stereo_spread = 1.0f;
    p.attack = 0.4f, p.decay = 1.5f, p.sustain = 0.8f, p.release = 0.9f;
    p.filtered = false;  // the pad bus has one filter for all voices
    return p;
}

// The rolling bass: saws from E2 up, a sine an octave under them for the
// weight. Nothing of it reaches below 41 Hz.
synth_patch bass_patch() {
    synth_patch p;
    p.unison = 2;
    p.detune_cents = 8.0f;
    p.sub_level = 0.9f;
    p.attack = 0.003f, p.decay = 0.25f, p.sustain = 0.55f, p.release = 0.03f;
    p.filter_q = 2.5f;
    p.filter_env_octaves = 2.8f;
    p.filter_decay = 0.18f;
    p.key_tracking = 0.5f;
    p.drive = 0.6f;
    return p;
}

// The held sub under the intro, the breakdown and the final chord: full
// sustain, gliding between roots, fading slowly when it ends.
synth_patch drone_patch() {
    synth_patch p;
    p.unison = 2;
    p.detune_cents = 5.0f;
    p.sub_level = 1.0f;
    p.attack = 0.12f, p.decay = 1.0f, p.sustain = 1.0f, p.release = 0.8f;
    p.filter_q = 0.9f;
    p.key_tracking = 0.5f;
    p.glide = 0.12f;
    return p;
}

synth_patch arp_patch() {
    synth_patch p;
    p.unison = 2;
    p.detune_cents = 6.0f;
    p.stereo_spread = 0.5f;
    p.attack = 0.003f, p.decay = 0.35f, p.sustain = 0.0f, p.release = 0.08f;
    p.filter_q = 1.6f;
    p.filter_env_octaves = 2.0f;
    p.filter_decay = 0.25f;
    p.key_tracking = 0.5f;
    return p;
}

synth_patch sparkle_patch() {
    synth_patch p;
    p.attack = 0.002f, p.decay = 0.3f, p.sustain = 0.0f, p.release = 0.1f;
    p.filter_env_octaves = 1.5f;
    p.filter_decay = 0.2f;
    p.key_tracking = 1.0f;
    return p;
}

// A wide supersaw with an octave on top: it has to cut through the drops.
synth_patch lead_patch(bool second_voice) {
    synth_patch p;
    p.unison = 7;
    p.detune_cents = second_voice ? 24.0f : 32.0f;
    p.stereo_spread = 1.3f;
    p.octave_level = second_voice ? 0.0f : 0.8f;
    p.attack = 0.004f, p.decay = 0.5f, p.sustain = 0.8f, p.release = 0.2f;
    p.filter_q = 1.8f;
    p.steep = true;
    p.max_cutoff = 8000.0f;  // bright, not fizzy
    p.filter_env_octaves = 1.5f;
    p.filter_decay = 0.35f;
    p.key_tracking = 0.5f;
    p.glide = 0.05f;
    p.vibrato_cents = second_voice ? 8.0f : 14.0f;
    p.vibrato_delay = 0.25f;
    return p;
}

// The counter-melody: a bright pluck that rings a little.
synth_patch counter_patch() {
    synth_patch p;
    p.unison = 2;
    p.detune_cents = 9.0f;
    p.stereo_spread = 0.7f;
    p.attack = 0.003f, p.decay = 0.45f, p.sustain = 0.35f, p.release = 0.15f;
    p.filter_q = 1.4f;
    p.filter_env_octaves = 2.2f;
    p.filter_decay = 0.25f;
    p.key_tracking = 0.7f;
    return p;
}

constexpr float lead_cutoff = 4500.0f;
constexpr float sparkle_cutoff = 2500.0f;
constexpr float drone_cutoff = 350.0f;
constexpr float counter_cutoff = 3500.0f;
// Below this the side signal is taken out: the bass stays mono. Width is
// added below `width_above_hz` only: wider cymbals just fizz.
constexpr float mono_below_hz = 120.0f;
constexpr float width_above_hz = 6000.0f;
// The whole mix fades out over this long before a gap, then every
// instrument and effect starts afresh, so no tail reaches into the silence.
constexpr int gap_fade = sample_rate / 100;

// One mix's worth of a block: the dry sum and the two sends.
struct bus {
    float dry_l[max_block], dry_r[max_block], rev_l[max_block], rev_r[max_block], del_l[max_block], del_r[max_block];
    bus() { clear(); }
    void clear() {
        for (float* x : {dry_l, dry_r, rev_l, rev_r, del_l, del_r}) std::fill(x, x + max_block, 0.0f);
    }
    void add(int i, float a, float b, const channel& ch) {
        dry_l[i] += a;
        dry_r[i] += b;
        rev_l[i] += a * ch.reverb;
        rev_r[i] += b * ch.reverb;
        del_l[i] += a * ch.delay;
        del_r[i] += b * ch.delay;
    }
};

// The echo and the hall the sends feed, and their returns.
struct effects {
    ping_pong_delay echo{static_cast<int>(3 * song::step_seconds * sample_rate), 0.45f, 3500.0f};  // dotted 8th
    reverb hall{0.82f, 0.5f};

    void process(const bus& in, float* l, float* r, int n) {
        for (int i = 0; i < n; ++i) {
            float echo_l, echo_r, wet_l, wet_r;
            echo.process(in.del_l[i], in.del_r[i], echo_l, echo_r);
            hall.process(in.rev_l[i] + delay_to_reverb * echo_l, in.rev_r[i] + delay_to_reverb * echo_r, wet_l, wet_r);
            l[i] = in.dry_l[i] + delay_return * echo_l + reverb_return * wet_l;
            r[i] = in.dry_r[i] + delay_return * echo_r + reverb_return * wet_r;
        }
    }
};

// After the bus compressor: the DC blocker, a gentle roll-off of the top
// octave (it keeps the saws from sounding glassy), and mid and side: the
// side loses its bass, and the band in between is scaled for width.
struct master_bus {
    one_pole dc_l, dc_r;
    svf top_l, top_r, side_highpass, side_lowpass;
    master_bus() {
        dc_l.set_lowpass(10.0f);
        dc_r.set_lowpass(10.0f);
        top_l.set(17000.0f, 0.6f);
        top_r.set(17000.0f, 0.6f);
        side_highpass.set(mono_below_hz, 0.7071f);
        side_lowpass.set(width_above_hz, 0.7071f);
    }
    void process(float in_l, float in_r, float side_gain, float& out_l, float& out_r) {
        const float l = top_l.low(dc_l.high(in_l)), r = top_r.low(dc_r.high(in_r));
        const float mid = 0.5f * (l + r), side_all = side_highpass.high(0.5f * (l - r));
        const float side = side_all + (side_gain - 1.0f) * side_lowpass.low(side_all);
        out_l = mid + side;
        out_r = mid - side;
    }
};

// Every instrument and effect with its state, in one value: a gap replaces
// it with a fresh one.
struct band {
    kick kick_drum;
    snare clap_drum{snare_patch{3, 1100.0f, 0.14f, 0.0f, 0.0f, 0xc1a9u, true}};
    snare snare_drum{snare_patch{1, 1800.0f, 0.26f, 190.0f, 0.8f, 0x5a4eu, false, 0.7f}};
    cymbal closed_hat{0.025f, 7500.0f, true, 0x4a7u};
    cymbal open_hat{0.16f, 7000.0f, true, 0x09e4u};
    cymbal crash{1.1f, 4500.0f, true, 0xc4a5u, 1.6f};  // the crash rings higher
    cymbal ride_cymbal{0.28f, 5000.0f, true, 0x41deu, 2.4f};  // and the ride higher still, shorter
    riser noise_riser;
    impact boom;
    poly_synth bass{bass_patch(), 1, 0xba55u};
    poly_synth drone{drone_patch(), 1, 0xd40eu};
    poly_synth pad{pad_patch(), 10, 0x9adu};
    poly_synth arp{arp_patch(), 4, 0xa49u};
    poly_synth sparkle{sparkle_patch(), 4, 0x59a4u};
    poly_synth lead{lead_patch(false), 1, 0x1eadu};
    poly_synth harmony{lead_patch(true), 1, 0x4a40u};
    poly_synth counter{counter_patch(), 3, 0xc0c0u};
    svf pad_filter_l, pad_filter_r;
    // The kick's sidechain: a slow pump for the pads and the lines, and a
    // tight dip that gives the bass back the beat from the second 16th.
    ducker pump{0.02f, 0.09f}, tight{0.01f, 0.035f};
    effects fx;
    std::vector<effects> stem_fx;  // one per stem, fed by its track's sends alone

    explicit band(size_t stems) : stem_fx(stems) {}

    void play(const song::note& nt, int gate, int length) {
        switch (nt.track) {
        case song::kick:
            kick_drum.trigger(nt.velocity);
            pump.trigger();
            tight.trigger();
            break;
        case song::clap: clap_drum.trigger(nt.velocity); break;
        case song::snare: snare_drum.trigger(nt.velocity); break;
        case song::hat:
            closed_hat.trigger(nt.velocity);
            open_hat.choke();
            break;
        case song::open_hat: open_hat.trigger(nt.velocity); break;
        case song::crash: crash.trigger(nt.velocity); break;
        case song::ride: ride_cymbal.trigger(nt.velocity); break;
        case song::riser: noise_riser.trigger(nt.velocity, length); break;
        case song::impact: boom.trigger(nt.velocity, midi_to_hz(static_cast<float>(nt.pitch))); break;
        case song::bass: bass.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
        case song::drone: drone.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
        case song::pad: pad.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
        case song::arp: arp.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
        case song::sparkle: sparkle.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
        case song::lead: lead.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
        case song::harmony: harmony.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
        case song::counter: counter.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
        }
    }

    using block = float[song::track_count][2][max_block];
    void render(block& out, int n, float pad_fc, float arp_fc, float bass_fc) {
        kick_drum.render(out[song::kick][0], out[song::kick][1], n);
        clap_drum.render(out[song::clap][0], out[song::clap][1], n);
        snare_drum.render(out[song::snare][0], out[song::snare][1], n);
        closed_hat.render(out[song::hat][0], out[song::hat][1], n);
        open_hat.render(out[song::open_hat][0], out[song::open_hat][1], n);
        crash.render(out[song::crash][0], out[song::crash][1], n);
        ride_cymbal.render(out[song::ride][0], out[song::ride][1], n);
        noise_riser.render(out[song::riser][0], out[song::riser][1], n);
        boom.render(out[song::impact][0], out[song::impact][1], n);
        bass.render(out[song::bass][0], out[song::bass][1], n, bass_fc);
        drone.render(out[song::drone][0], out[song::drone][1], n, drone_cutoff);
        pad.render(out[song::pad][0], out[song::pad][1], n, 0.0f);
        arp.render(out[song::arp][0], out[song::arp][1], n, arp_fc);
        sparkle.render(out[song::sparkle][0], out[song::sparkle][1], n, sparkle_cutoff);
        lead.render(out[song::lead][0], out[song::lead][1], n, lead_cutoff);
        harmony.render(out[song::harmony][0], out[song::harmony][1], n, lead_cutoff);
        counter.render(out[song::counter][0], out[song::counter][1], n, counter_cutoff);
        pad_filter_l.set(pad_fc, 0.9f);
        pad_filter_r.set(pad_fc, 0.9f);
        for (int i = 0; i < n; ++i) {
            out[song::pad][0][i] = pad_filter_l.low(out[song::pad][0][i]);
            out[song::pad][1][i] = pad_filter_r.low(out[song::pad][1][i]);
        }
    }
};

// The mix's gain at sample `pos`: 1, falling to 0 over the fade before a
// gap, 0 inside it.
float gap_gain(const song::score& sc, long pos, long samples_per_step) {
    for (const song::gap& g : sc.gaps) {
        const long start = g.step * samples_per_step, end = (g.step + g.length) * samples_per_step;
        if (pos >= start - gap_fade && pos < end) return std::max(0.0f, static_cast<float>(start - pos) / gap_fade);
    }
    return 1.0f;
}

// Flush denormals to zero while rendering: the reverb tails would otherwise
// crawl through subnormal numbers. The result stays deterministic.
class denormal_guard {
public:
#if defined(__SSE__)
    denormal_guard() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040); }
    ~denormal_guard() { _mm_setcsr(saved_); }

private:
    unsigned saved_;
#endif
};

// Loudness meters for every track and section. Frames are gathered and
// handed to libebur128 a few thousand at a time.
class track_meters {
public:
    void add(int track, int section, float l, float r) {
        chunk& c = chunks_[track];
        if (c.section != section) flush(track);
        c.section = section;
        c.frames.push_back(l);
        c.frames.push_back(r);
        if (c.frames.size() >= 8192) flush(track);
    }
    void finish(track_levels& levels) {
        for (int t = 0; t < song::track_count; ++t) {
            flush(t);
            for (size_t s = 0; s < std::size(song::sections); ++s) {
                double lufs = -HUGE_VAL;
                if (states_[t][s]) ebur128_loudness_global(states_[t][s].get(), &lufs);
                levels.lufs[t][s] = lufs;
            }
        }
    }

private:
    struct closer {
        void operator()(ebur128_state* st) const { ebur128_destroy(&st); }
    };
    struct chunk {
        int section = -1;
        std::vector<float> frames;
    };
    void flush(int track) {
        chunk& c = chunks_[track];
        if (c.frames.empty()) return;
        auto& st = states_[track][c.section];
        if (!st) st.reset(ebur128_init(2, sample_rate, EBUR128_MODE_I));
        if (st) ebur128_add_frames_float(st.get(), c.frames.data(), c.frames.size() / 2);
        c.frames.clear();
    }
    chunk chunks_[song::track_count];
    std::unique_ptr<ebur128_state, closer> states_[song::track_count][std::size(song::sections)];
};

}  // namespace

stereo_buffer render_score(const song::score& sc, const std::function<void(double)>& progress, track_levels* levels,
                           double seconds, const std::vector<int>& solo, std::vector<stereo_buffer>* stems) {
    denormal_guard guard;
    const long total = std::lround(std::clamp(seconds, 0.0, song::file_seconds) * sample_rate);
    const long samples_per_step = std::lround(song::step_seconds * sample_rate);
    static_assert(static_cast<long>(song::step_seconds * sample_rate) % max_block == 0, "notes must start on block edges");
    static_assert(gap_fade % max_block == 0, "a gap's fade starts on a block edge");

    const size_t stem_count = stems ? solo.size() : 0;
    int stem_of[song::track_count];  // the stem a track feeds, or -1
    std::fill(std::begin(stem_of), std::end(stem_of), -1);
    for (size_t k = 0; k < stem_count; ++k) {
        if (solo[k] < 0 || solo[k] >= song::track_count || stem_of[solo[k]] >= 0) throw std::invalid_argument("bad solo track");
        stem_of[solo[k]] = static_cast<int>(k);
    }

    auto players = std::make_unique<band>(stem_count);
    compressor bus_compressor(-8.0f, 2.0f, 0.008f, 0.15f, 6.0f);
    master_bus master_mix;
    std::vector<master_bus> master_stems(stem_count);
    bool fresh = true;  // nothing has sounded since the band was (re)started

    float pan_l[song::track_count], pan_r[song::track_count];
    for (int t = 0; t < song::track_count; ++t) pan_gains(mixer[t].pan, pan_l[t], pan_r[t]);

    stereo_buffer out;
    out.left.resize(total);
    out.right.resize(total);
    if (stems) stems->assign(stem_count, stereo_buffer{std::vector<float>(total), std::vector<float>(total)});
    float block[song::track_count][2][max_block];
    float mix_l[max_block], mix_r[max_block], compression[max_block];
    bus mix_bus;
    std::vector<bus> stem_bus(stem_count);
    std::vector<std::array<float, max_block>> stem_l(stem_count), stem_r(stem_count);

    std::unique_ptr<track_meters> meters;
    if (levels) meters = std::make_unique<track_meters>();
    size_t next_note = 0;
    long next_report = 0;
    for (long pos = 0; pos < total; pos += max_block) {
        const int n = static_cast<int>(std::min<long>(max_block, total - pos));
        if (pos >= next_report) {
            progress(static_cast<double>(pos) / total);
            next_report += total / 20;
        }

        while (next_note < sc.notes.size() && sc.notes[next_note].step * samples_per_step <= pos) {
            const song::note& nt = sc.notes[next_note++];
            players->play(nt, static_cast<int>(nt.length * samples_per_step * nt.gate), static_cast<int>(nt.length * samples_per_step));
            fresh = false;
        }

        const double bar = pos / (song::bar_seconds * sample_rate);
        const float pad_fc = automation_at(sc, song::pad_cutoff, bar);
        const float arp_fc = automation_at(sc, song::arp_cutoff, bar);
        const float bass_fc = automation_at(sc, song::bass_cutoff, bar);
        const float master = automation_at(sc, song::master_gain, bar);
        const float side_gain = automation_at(sc, song::width, bar);

        std::fill(&block[0][0][0], &block[0][0][0] + sizeof(block) / sizeof(float), 0.0f);
        players->render(block, n, pad_fc, arp_fc, bass_fc);

        const int section = static_cast<int>(std::upper_bound(std::begin(song::sections), std::end(song::sections), bar,
                                                              [](double b, const song::section& s) { return b < s.first_bar; }) -
                                             std::begin(song::sections)) - 1;
        // Faders, pans and sends, track by track over the block.
        float pump[max_block], tight[max_block];
        for (int i = 0; i < n; ++i) pump[i] = players->pump.next(), tight[i] = players->tight.next();
        mix_bus.clear();
        for (bus& b : stem_bus) b.clear();
        for (int t = 0; t < song::track_count; ++t) {
            const channel& ch = mixer[t];
            for (int i = 0; i < n; ++i) {
                const float g = ch.gain * (1.0f - ch.duck * (ch.tight ? tight[i] : pump[i]));
                const float a = block[t][0][i] * g * pan_l[t];
                const float b = block[t][1][i] * g * pan_r[t];
                mix_bus.add(i, a, b, ch);
                if (stem_of[t] >= 0) stem_bus[stem_of[t]].add(i, a, b, ch);
                if (levels) {
                    levels->sum_ll[t][section] += a * a;
                    levels->sum_rr[t][section] += b * b;
                    levels->sum_lr[t][section] += a * b;
                    meters->add(t, section, a, b);
                }
            }
        }
        players->fx.process(mix_bus, mix_l, mix_r, n);
        for (size_t k = 0; k < stem_count; ++k) players->stem_fx[k].process(stem_bus[k], stem_l[k].data(), stem_r[k].data(), n);
        // The mix drives the compressor; a stem moves with it.
        bus_compressor.process(mix_l, mix_r, n, compression);
        float gain = 1.0f;
        for (int i = 0; i < n; ++i) {
            gain = gap_gain(sc, pos + i, samples_per_step);
            float l, r;
            master_mix.process(mix_l[i], mix_r[i], side_gain, l, r);
            out.left[pos + i] = l * master * gain;
            out.right[pos + i] = r * master * gain;
            for (size_t k = 0; k < stem_count; ++k) {
                master_stems[k].process(stem_l[k][i] * compression[i], stem_r[k][i] * compression[i], side_gain, l, r);
                (*stems)[k].left[pos + i] = l * master * gain;
                (*stems)[k].right[pos + i] = r * master * gain;
            }
        }
        if (gain == 0.0f && !fresh) {
            players = std::make_unique<band>(stem_count);
            fresh = true;
        }
        if (levels) levels->samples[section] += n;
    }
    if (levels) meters->finish(*levels);
    progress(1.0);
    return out;
}

}  // namespace synth
