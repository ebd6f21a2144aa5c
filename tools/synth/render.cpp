#include "render.h"

#include "dsp.h"
#include "instruments.h"

#include <algorithm>
#include <cmath>
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
};
const channel mixer[song::track_count] = {
    /* kick     */ {0.82f, 0.0f, 0.02f, 0.0f, 0.0f},
    /* clap     */ {1.70f, 0.0f, 0.30f, 0.0f, 0.0f},
    /* snare    */ {0.65f, 0.1f, 0.25f, 0.0f, 0.0f},
    /* hat      */ {0.85f, 0.3f, 0.06f, 0.0f, 0.0f},
    /* open hat */ {0.48f, -0.3f, 0.10f, 0.0f, 0.0f},
    /* crash    */ {0.32f, 0.0f, 0.20f, 0.0f, 0.0f},
    /* riser    */ {0.42f, 0.0f, 0.30f, 0.0f, 0.0f},
    /* impact   */ {0.60f, 0.0f, 0.15f, 0.0f, 0.0f},
    /* bass     */ {0.73f, 0.0f, 0.00f, 0.0f, 0.5f},
    /* pad      */ {0.155f, 0.0f, 0.35f, 0.0f, 0.65f},
    /* arp      */ {0.49f, 0.0f, 0.25f, 0.35f, 0.35f},
    /* sparkle  */ {0.40f, 0.0f, 0.30f, 0.45f, 0.3f},
    /* lead     */ {0.36f, 0.0f, 0.22f, 0.28f, 0.12f},
    /* harmony  */ {0.18f, -0.35f, 0.30f, 0.30f, 0.12f},
};
constexpr float reverb_return = 1.0f;
constexpr float delay_return = 0.55f;
constexpr float delay_to_reverb = 0.3f;

synth_patch pad_patch() {
    synth_patch p;
    p.unison = 5;
    p.detune_cents = 16.0f;
    p.stereo_spread = 0.85f;
    p.attack = 0.4f, p.decay = 1.5f, p.sustain = 0.8f, p.release = 0.9f;
    p.filtered = false;  // the pad bus has one filter for all voices
    return p;
}

synth_patch bass_patch() {
    synth_patch p;
    p.unison = 2;
    p.detune_cents = 8.0f;
    p.sub_level = 0.7f;
    p.attack = 0.003f, p.decay = 0.25f, p.sustain = 0.55f, p.release = 0.03f;
    p.filter_q = 2.5f;
    p.filter_env_octaves = 2.8f;
    p.filter_decay = 0.18f;
    p.key_tracking = 0.5f;
    p.drive = 0.6f;
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

synth_patch lead_patch(bool harmony_line) {
    synth_patch p;
    p.unison = 3;
    p.detune_cents = harmony_line ? 14.0f : 10.0f;
    p.stereo_spread = harmony_line ? 0.6f : 0.3f;
    p.attack = 0.006f, p.decay = 0.5f, p.sustain = 0.75f, p.release = 0.2f;
    p.filter_q = 1.3f;
    p.filter_env_octaves = 1.5f;
    p.filter_decay = 0.4f;
    p.key_tracking = 0.6f;
    p.glide = 0.05f;
    p.vibrato_cents = harmony_line ? 8.0f : 14.0f;
    p.vibrato_delay = 0.25f;
    return p;
}

constexpr float lead_cutoff = 1800.0f;
constexpr float sparkle_cutoff = 2500.0f;

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

}  // namespace

stereo_buffer render_score(const song::score& sc, const std::function<void(double)>& progress, track_levels* levels,
                           double seconds) {
    denormal_guard guard;
    const long total = std::lround(std::clamp(seconds, 0.0, song::file_seconds) * sample_rate);
    const long samples_per_step = std::lround(song::step_seconds * sample_rate);
    static_assert(static_cast<long>(song::step_seconds * sample_rate) % max_block == 0, "notes must start on block edges");

    kick kick_drum;
    snare clap_drum({3, 1100.0f, 0.14f, 0.0f, 0.0f, 0xc1a9u});
    snare snare_drum({1, 1800.0f, 0.10f, 190.0f, 0.5f, 0x5a4eu});
    cymbal closed_hat(0.025f, 7500.0f, false, 0x4a7u);
    cymbal open_hat_cym(0.16f, 7000.0f, false, 0x09e4u);
    cymbal crash_cym(1.1f, 4500.0f, true, 0xc4a5u);
    riser noise_riser;
    impact boom;
    poly_synth bass_synth(bass_patch(), 1, 0xba55u);
    poly_synth pad_synth(pad_patch(), 10, 0x9adu);
    poly_synth arp_synth(arp_patch(), 4, 0xa49u);
    poly_synth sparkle_synth(sparkle_patch(), 4, 0x59a4u);
    poly_synth lead_synth(lead_patch(false), 1, 0x1eadu);
    poly_synth harmony_synth(lead_patch(true), 1, 0x4a40u);

    svf pad_filter_l, pad_filter_r;
    ducker sidechain;
    ping_pong_delay echo(static_cast<int>(3 * samples_per_step), 0.45f, 3500.0f);  // dotted 8th
    reverb hall(0.82f, 0.5f);
    compressor bus(-10.0f, 2.5f, 0.008f, 0.15f, 6.0f);
    one_pole dc_l, dc_r;
    dc_l.set_lowpass(10.0f);
    dc_r.set_lowpass(10.0f);
    // A gentle roll-off of the top octave keeps the saws from sounding glassy.
    svf top_l, top_r;
    top_l.set(17000.0f, 0.6f);
    top_r.set(17000.0f, 0.6f);

    float pan_l[song::track_count], pan_r[song::track_count];
    for (int t = 0; t < song::track_count; ++t) pan_gains(mixer[t].pan, pan_l[t], pan_r[t]);

    stereo_buffer out;
    out.left.resize(total);
    out.right.resize(total);
    float block[song::track_count][2][max_block];
    float mix_l[max_block], mix_r[max_block];

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
            const int gate = static_cast<int>(nt.length * samples_per_step * nt.gate);
            switch (nt.track) {
            case song::kick:
                kick_drum.trigger(nt.velocity);
                sidechain.trigger();
                break;
            case song::clap: clap_drum.trigger(nt.velocity); break;
            case song::snare: snare_drum.trigger(nt.velocity); break;
            case song::hat:
                closed_hat.trigger(nt.velocity);
                open_hat_cym.choke();
                break;
            case song::open_hat: open_hat_cym.trigger(nt.velocity); break;
            case song::crash: crash_cym.trigger(nt.velocity); break;
            case song::riser: noise_riser.trigger(nt.velocity, static_cast<int>(nt.length * samples_per_step)); break;
            case song::impact: boom.trigger(nt.velocity); break;
            case song::bass: bass_synth.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
            case song::pad: pad_synth.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
            case song::arp: arp_synth.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
            case song::sparkle: sparkle_synth.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
            case song::lead: lead_synth.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
            case song::harmony: harmony_synth.note_on(nt.pitch, nt.velocity, gate, nt.legato); break;
            }
        }

        const double bar = pos / (song::bar_seconds * sample_rate);
        const float pad_fc = automation_at(sc, song::pad_cutoff, bar);
        const float arp_fc = automation_at(sc, song::arp_cutoff, bar);
        const float bass_fc = automation_at(sc, song::bass_cutoff, bar);
        const float master = automation_at(sc, song::master_gain, bar);

        std::fill(&block[0][0][0], &block[0][0][0] + sizeof(block) / sizeof(float), 0.0f);
        kick_drum.render(block[song::kick][0], block[song::kick][1], n);
        clap_drum.render(block[song::clap][0], block[song::clap][1], n);
        snare_drum.render(block[song::snare][0], block[song::snare][1], n);
        closed_hat.render(block[song::hat][0], block[song::hat][1], n);
        open_hat_cym.render(block[song::open_hat][0], block[song::open_hat][1], n);
        crash_cym.render(block[song::crash][0], block[song::crash][1], n);
        noise_riser.render(block[song::riser][0], block[song::riser][1], n);
        boom.render(block[song::impact][0], block[song::impact][1], n);
        bass_synth.render(block[song::bass][0], block[song::bass][1], n, bass_fc);
        pad_synth.render(block[song::pad][0], block[song::pad][1], n, 0.0f);
        arp_synth.render(block[song::arp][0], block[song::arp][1], n, arp_fc);
        sparkle_synth.render(block[song::sparkle][0], block[song::sparkle][1], n, sparkle_cutoff);
        lead_synth.render(block[song::lead][0], block[song::lead][1], n, lead_cutoff);
        harmony_synth.render(block[song::harmony][0], block[song::harmony][1], n, lead_cutoff);

        pad_filter_l.set(pad_fc, 0.9f);
        pad_filter_r.set(pad_fc, 0.9f);
        for (int i = 0; i < n; ++i) {
            block[song::pad][0][i] = pad_filter_l.low(block[song::pad][0][i]);
            block[song::pad][1][i] = pad_filter_r.low(block[song::pad][1][i]);
        }

        const int section = static_cast<int>(std::upper_bound(std::begin(song::sections), std::end(song::sections), bar,
                                                              [](double b, const song::section& s) { return b < s.first_bar; }) -
                                             std::begin(song::sections)) - 1;
        // Faders, pans and sends, track by track over the block.
        float duck[max_block], dry_l[max_block] = {}, dry_r[max_block] = {}, rev_l[max_block] = {},
              rev_r[max_block] = {}, del_l[max_block] = {}, del_r[max_block] = {};
        for (int i = 0; i < n; ++i) duck[i] = sidechain.next();
        for (int t = 0; t < song::track_count; ++t) {
            const channel& ch = mixer[t];
            for (int i = 0; i < n; ++i) {
                const float g = ch.gain * (1.0f - ch.duck * duck[i]);
                const float a = block[t][0][i] * g * pan_l[t];
                const float b = block[t][1][i] * g * pan_r[t];
                dry_l[i] += a;
                dry_r[i] += b;
                rev_l[i] += a * ch.reverb;
                rev_r[i] += b * ch.reverb;
                del_l[i] += a * ch.delay;
                del_r[i] += b * ch.delay;
                if (levels) levels->sum_squares[t][section] += 0.5 * (a * a + b * b);
            }
        }
        for (int i = 0; i < n; ++i) {
            float echo_l, echo_r, wet_l, wet_r;
            echo.process(del_l[i], del_r[i], echo_l, echo_r);
            hall.process(rev_l[i] + delay_to_reverb * echo_l, rev_r[i] + delay_to_reverb * echo_r, wet_l, wet_r);
            mix_l[i] = dry_l[i] + delay_return * echo_l + reverb_return * wet_l;
            mix_r[i] = dry_r[i] + delay_return * echo_r + reverb_return * wet_r;
        }
        bus.process(mix_l, mix_r, n);
        for (int i = 0; i < n; ++i) {
            out.left[pos + i] = top_l.low(dc_l.high(mix_l[i])) * master;
            out.right[pos + i] = top_r.low(dc_r.high(mix_r[i])) * master;
        }
        if (levels) levels->samples[section] += n;
    }
    progress(1.0);
    return out;
}

}  // namespace synth
