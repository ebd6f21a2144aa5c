#include "frame_pace.h"

#include <gtest/gtest.h>

#include <functional>

// A picture whose drawing costs `full_ms` at full scale, with the square of the scale.
static std::function<float(float, unsigned)> steady(float full_ms)
{
    return [=](float scale, unsigned) { return full_ms * scale * scale; };
}

struct t_run {
    int changes = 0;
    unsigned last_change_ms = 0;
    float first_scale = 1.0f, final_scale = 1.0f, lowest_scale = 1.0f;
    bool only_single_steps_up = true;
};

// Feeds `pace` the frames of `seconds` of show, the clock moving on by each
// frame's time: drawing costs draw(scale, now), below full scale the stretch
// onto the screen costs `stretch_ms`, and the rest of a frame `rest_ms`.
static t_run run(t_pace *pace, float seconds, const std::function<float(float, unsigned)> &draw,
                 float stretch_ms = 0.0f, float rest_ms = 0.0f)
{
    unsigned now_ms = 0;
    t_run result;
    result.first_scale = result.lowest_scale = pace_scale(pace);
    unsigned end_ms = (unsigned)(seconds * 1000.0f);
    while (now_ms < end_ms) {
        int step = pace->step;
        float scale = pace_scale(pace);
        t_frame_times times = {0.0f, draw(scale, now_ms), scale < 1.0f ? stretch_ms : 0.0f};
        times.frame_ms = times.draw_ms + times.stretch_ms + rest_ms;
        now_ms += (unsigned)times.frame_ms + 1;
        if (pace_frame(pace, times, now_ms)) {
            result.changes++;
            result.last_change_ms = now_ms;
            if (pace->step < step - 1)
                result.only_single_steps_up = false;
        }
        result.lowest_scale = std::min(result.lowest_scale, pace_scale(pace));
    }
    result.final_scale = pace_scale(pace);
    return result;
}

TEST(FramePace, StepsDownUnderLoadToAScaleThatFits)
{
    // 30 ms at full scale: 0.7 costs 14.7 ms.
    t_pace pace = pace_for(60);
    t_run load = run(&pace, 5.0f, steady(30.0f));
    EXPECT_FLOAT_EQ(load.final_scale, 0.7f);
    EXPECT_LT(load.last_change_ms, 2000u) << "down within about a second of sustained overrun";
    EXPECT_EQ(load.changes, 1) << "straight to the scale that fits";

    // A picture far over the budget from the first warm frame (llvmpipe at
    // 1920x1080: 43 ms at half size) starts low, before any frame is shown.
    t_pace cold = pace_for(60);
    start_pace(&cold, {0.0f, 43.0f, 8.0f}, 0.5f);
    EXPECT_FLOAT_EQ(pace_scale(&cold), 0.35f);
    // A fast one starts at full scale.
    t_pace fast = pace_for(60);
    start_pace(&fast, {0.0f, 1.0f, 8.0f}, 0.5f);
    EXPECT_FLOAT_EQ(pace_scale(&fast), 1.0f);
}

TEST(FramePace, StepsBackUpOneStepAtATimeWhenThereIsRoom)
{
    t_pace pace = pace_for(60);
    // Heavy scenes for 5 s, then light ones: 8 ms at full scale.
    auto cost = [](float scale, unsigned now_ms) { return (now_ms < 5000 ? 60.0f : 8.0f) * scale * scale; };
    t_run show = run(&pace, 20.0f, cost);
    EXPECT_FLOAT_EQ(show.lowest_scale, 0.5f);
    EXPECT_FLOAT_EQ(show.final_scale, 1.0f);
    EXPECT_TRUE(show.only_single_steps_up);
    EXPECT_LT(show.last_change_ms, 15000u);
}

TEST(FramePace, NeverOscillates)
{
    // A steady load right at the threshold, jittering 5 % either way, for a
    // whole show: one step down at most, and then it stays.
    for (float full_ms : {16.7f * 1.05f, 16.7f * 1.10f, 16.7f * 1.15f}) {
        t_pace pace = pace_for(60);
        unsigned seed = 1;
        auto jitter = [&](float scale, unsigned) {
            seed = seed * 1103515245u + 12345u;
            float noise = 0.95f + 0.1f * (float)((seed >> 16) % 1000) / 1000.0f;
            return full_ms * scale * scale * noise;
        };
        EXPECT_LE(run(&pace, 130.0f, jitter).changes, 1) << full_ms << " ms at full scale";
    }
    // Headroom at 0.5 (10 ms), but 0.7 would not fit (19.6 ms): it never tries.
    t_pace near = pace_for(60);
    t_run held = run(&near, 130.0f, steady(40.0f));
    EXPECT_EQ(held.changes, 1);
    EXPECT_FLOAT_EQ(held.final_scale, 0.5f);

    // A load the cost model misjudges: full scale falls off a cliff the
    // lower scales don't predict. Each step up taken back doubles the wait
    // before the next, so the tries die out.
    t_pace cliff = pace_for(60);
    auto cost = [](float scale, unsigned) { return scale == 1.0f ? 30.0f : 8.0f * scale * scale; };
    t_run tries = run(&cliff, 130.0f, cost);
    EXPECT_LE(tries.changes, 12);
    EXPECT_LT(tries.last_change_ms, 90000u) << "quiet for the last 40 s";
}

TEST(FramePace, StaysAtFullScaleWhenFast)
{
    t_pace pace = pace_for(60);
    // 5 ms frames, with a 100 ms hitch every 2 s and a 300 ms burst of
    // frames over the budget every 10 s (a busy neighbour).
    auto cost = [](float scale, unsigned now_ms) {
        float ms = 5.0f * scale * scale;
        if (now_ms % 2000 < 6)
            ms = 100.0f;
        if (now_ms % 10000 < 300)
            ms = 25.0f;
        return ms;
    };
    t_run show = run(&pace, 130.0f, cost);
    EXPECT_EQ(show.changes, 0);
    EXPECT_FLOAT_EQ(show.lowest_scale, 1.0f);

    // On a software renderer the stretch onto the screen costs 15 ms. A
    // cheap picture (4 ms) slowed by what isn't its drawing (other
    // processes: 30 ms a frame) gains nothing from a lower scale.
    t_pace software = pace_for(60);
    start_pace(&software, {0.0f, 1.0f, 15.0f}, 0.5f);
    EXPECT_EQ(run(&software, 30.0f, steady(4.0f), 15.0f, 30.0f).changes, 0);
    // Started low by a warm frame that was slow for once, it comes back to
    // full scale, whose frames cost less than the stretch alone.
    t_pace unlucky = pace_for(60);
    start_pace(&unlucky, {0.0f, 20.0f, 15.0f}, 0.5f);
    EXPECT_LT(pace_scale(&unlucky), 1.0f);
    EXPECT_FLOAT_EQ(run(&unlucky, 5.0f, steady(4.0f), 15.0f, 1.0f).final_scale, 1.0f);

    // A pinned pace ignores any load.
    t_pace pinned = pinned_pace(60, 1.0f);
    start_pace(&pinned, {0.0f, 100.0f, 0.0f}, 0.5f);
    EXPECT_EQ(run(&pinned, 10.0f, steady(200.0f)).changes, 0);
    EXPECT_FLOAT_EQ(pace_scale(&pinned), 1.0f);
}

TEST(FramePace, RecordSummarizesWhatTheViewerSaw)
{
    static t_frame_record record;
    // 90 frames of 16 ms at full scale, then 10 of 40 ms and one stall past
    // the last slot at the lowest scale.
    for (int i = 0; i < 90; i++)
        record_frame(&record, 16, 0);
    for (int i = 0; i < 10; i++)
        record_frame(&record, 40, SCALE_STEPS - 1);
    record_frame(&record, 5000, SCALE_STEPS - 1);
    t_frame_summary summary = summarize_frames(&record);
    EXPECT_EQ(summary.frames, 101u);
    EXPECT_EQ(summary.median_ms, 16u);
    EXPECT_EQ(summary.p95_ms, 40u);
    EXPECT_FLOAT_EQ(summary.scale_min, 0.35f);
    EXPECT_FLOAT_EQ(summary.scale_median, 1.0f);
}
