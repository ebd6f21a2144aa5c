// Plays a score through the instruments, the mixer and the effects into a
// float stereo buffer (before mastering).
#pragma once

#include "song.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <vector>

namespace synth {

struct stereo_buffer {
    std::vector<float> left, right;
};

// Each track's level after its fader (dry, before the sends and the bus) per
// section, for balancing the mix: the mean square, the integrated loudness
// in LUFS (-inf where the track is silent), and how alike its two channels
// are (their correlation, 1 where it is silent).
struct track_levels {
    long samples[std::size(song::sections)] = {};
    double lufs[song::track_count][std::size(song::sections)] = {};
    double sum_ll[song::track_count][std::size(song::sections)] = {}, sum_rr[song::track_count][std::size(song::sections)] = {},
           sum_lr[song::track_count][std::size(song::sections)] = {};
    double mean_square(int track, size_t section) const {
        return 0.5 * (sum_ll[track][section] + sum_rr[track][section]) / std::max(1L, samples[section]);
    }
    double correlation(int track, size_t section) const {
        const double norm = std::sqrt(sum_ll[track][section] * sum_rr[track][section]);
        return norm > 0.0 ? sum_lr[track][section] / norm : 1.0;
    }
};

// `progress` gets the fraction done now and then; `levels` may be null.
// `seconds` cuts the render short (the whole file by default). Each track in
// `solo` is also rendered alone into `stems`, in the same order: through its
// fader and sends, effects of its own, the bus compressor moving as the mix
// drives it, and the master bus, so a stem is that track's share of the mix.
stereo_buffer render_score(const song::score& score, const std::function<void(double)>& progress,
                           track_levels* levels = nullptr, double seconds = song::file_seconds,
                           const std::vector<int>& solo = {}, std::vector<stereo_buffer>* stems = nullptr);

}  // namespace synth
