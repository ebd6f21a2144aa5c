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

// Mean square of each track (after its fader) per section, for balancing the mix.
struct track_levels {
    double sum_squares[song::track_count][std::size(song::sections)] = {};
    long samples[std::size(song::sections)] = {};
};

// `progress` gets the fraction done now and then; `levels` may be null.
// `seconds` cuts the render short (the whole file by default).
stereo_buffer render_score(const song::score& score, const std::function<void(double)>& progress,
                           track_levels* levels = nullptr, double seconds = song::file_seconds);

}  // namespace synth
