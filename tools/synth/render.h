// Plays a score through the instruments, the mixer and the effects into a
// float stereo buffer (before mastering).
#pragma once

#include "song.h"

#include <functional>
#include <iterator>
#include <vector>

namespace synth {

struct stereo_buffer {
    std::vector<float> left, right;
};

// Each track's level after its fader (dry, before the sends and the bus) per
// section, for balancing the mix: the mean square, and the integrated
// loudness in LUFS (-inf where the track is silent).
struct track_levels {
    double sum_squares[song::track_count][std::size(song::sections)] = {};
    long samples[std::size(song::sections)] = {};
    double lufs[song::track_count][std::size(song::sections)] = {};
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
