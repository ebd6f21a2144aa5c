#include "frame_pace.h"

#include <cmath>

const float SCALE_STEP[SCALE_STEPS] = {1.0f, 0.85f, 0.7f, 0.5f, 0.35f};

// Frames are judged half a second at a time (and at least three of them),
// so one slow frame, or a neighbour's burst of work, moves nothing.
static const unsigned WINDOW_MS = 500;
static const int WINDOW_FRAMES = 3;
// Down when frames run over the refresh interval by a tenth for two windows
// in a row, and only for a tenth's gain at least; up when they have had
// three tenths to spare for a second.
static const float OVER = 1.10f;
static const int WINDOWS_OVER = 2;
static const float GAIN = 0.90f;
static const float ROOM = 0.70f;
static const unsigned ROOM_MS = 1000;
// A picture this far over the refresh interval starts the show lower.
static const float START_OVER = 2.0f;
// A step up waits this long after a step down. A step up that runs over
// within TAKEN_BACK_MS is taken back and the wait doubles, so a load that
// the cost model misjudges cannot make the scale swing to and fro.
static const unsigned FIRST_HOLD_MS = 2000;
static const unsigned LONGEST_HOLD_MS = 64000;
static const unsigned TAKEN_BACK_MS = 5000;
// Frame times that may still come from before a change of scale (timer
// queries are read a few frames late).
static const int SETTLE_SAMPLES = 3;

t_pace pace_for(int refresh_hz)
{
    t_pace pace = {};
    pace.budget_ms = 1000.0f / (float)(refresh_hz > 0 ? refresh_hz : 60);
    pace.hold_ms = FIRST_HOLD_MS;
    return pace;
}

t_pace pinned_pace(int refresh_hz, float scale)
{
    t_pace pace = pace_for(refresh_hz);
    pace.pinned = true;
    for (int step = 1; step < SCALE_STEPS; step++)
        if (fabsf(SCALE_STEP[step] - scale) < fabsf(SCALE_STEP[pace.step] - scale))
            pace.step = step;
    return pace;
}

float pace_scale(const t_pace *pace)
{
    return SCALE_STEP[pace->step];
}

// The cost model. Drawing goes with the picture's pixels, the square of the
// scale; below full scale the stretch onto the screen is added, the same at
// any scale (it writes the screen's pixels); the rest of a frame (the swap,
// the program, other processes' turns) stays what it is.
struct t_cost {
    float full_draw_ms;  // drawing at full scale
    float rest_ms;
};

static float stretch_ms_at(const t_pace *pace, int step)
{
    return step > 0 ? pace->stretch_ms : 0.0f;
}

// The model fitted to frames measured at the step drawn now.
static t_cost cost_of(const t_pace *pace, t_frame_times times)
{
    float scale = pace_scale(pace);
    // At full scale a stretch is only the copy between bars, paid at every
    // scale: it counts with the rest.
    float rest_ms = times.frame_ms - times.draw_ms - (pace->step > 0 ? times.stretch_ms : 0.0f);
    t_cost cost;
    cost.full_draw_ms = times.draw_ms / (scale * scale);
    cost.rest_ms = rest_ms > 0.0f ? rest_ms : 0.0f;
    return cost;
}

static float expected_ms(const t_pace *pace, t_cost cost, int step)
{
    return cost.full_draw_ms * SCALE_STEP[step] * SCALE_STEP[step] + stretch_ms_at(pace, step) + cost.rest_ms;
}

// The largest scale expected to fit the budget; failing that, the one
// expected to be quickest.
static int best_step(const t_pace *pace, t_cost cost)
{
    int best = 0;
    for (int step = 0; step < SCALE_STEPS; step++) {
        float ms = expected_ms(pace, cost, step);
        if (ms <= pace->budget_ms)
            return step;
        if (ms < expected_ms(pace, cost, best))
            best = step;
    }
    return best;
}

static bool change_step(t_pace *pace, int step, unsigned now_ms)
{
    if (step > pace->step) {
        pace->hold_ms = FIRST_HOLD_MS;
        pace->up_after_ms = now_ms + pace->hold_ms;
        pace->trying_up = false;
    } else {
        pace->trying_up = true;
        pace->trying_until_ms = now_ms + TAKEN_BACK_MS;
    }
    pace->step = step;
    pace->ignore = SETTLE_SAMPLES;
    pace->windows_over = 0;
    pace->room_ms = 0;
    return true;
}

// A step up that ran over soon after: back to the scale it left, which
// fitted, and the next try waits twice as long as the last.
static bool take_back_step_up(t_pace *pace, unsigned now_ms)
{
    unsigned hold_ms = pace->hold_ms < LONGEST_HOLD_MS ? pace->hold_ms * 2 : LONGEST_HOLD_MS;
    change_step(pace, pace->step + 1, now_ms);
    pace->hold_ms = hold_ms;
    pace->up_after_ms = now_ms + hold_ms;
    return true;
}

void start_pace(t_pace *pace, t_frame_times warm, float scale)
{
    if (pace->pinned)
        return;
    pace->stretch_ms = warm.stretch_ms;
    t_cost cost = {warm.draw_ms / (scale * scale), 0.0f};
    if (cost.full_draw_ms > START_OVER * pace->budget_ms) {
        pace->step = best_step(pace, cost);
        pace->ignore = SETTLE_SAMPLES;
    }
}

static bool judge_window(t_pace *pace, t_frame_times times, unsigned span_ms, unsigned now_ms)
{
    // The stretch is measured only while there is one.
    if (pace->step > 0 && times.stretch_ms > 0.0f)
        pace->stretch_ms = times.stretch_ms;
    t_cost cost = cost_of(pace, times);
    float frame_ms = times.frame_ms;
    bool held = (int)(now_ms - pace->up_after_ms) < 0;
    if (frame_ms > OVER * pace->budget_ms) {
        pace->room_ms = 0;
        if (++pace->windows_over < WINDOWS_OVER)
            return false;
        if (pace->trying_up && (int)(now_ms - pace->trying_until_ms) < 0)
            return take_back_step_up(pace, now_ms);
        int step = best_step(pace, cost);
        if (step == pace->step || expected_ms(pace, cost, step) > GAIN * frame_ms || (step < pace->step && held))
            return false;
        return change_step(pace, step, now_ms);
    }
    pace->windows_over = 0;
    pace->room_ms = frame_ms < ROOM * pace->budget_ms ? pace->room_ms + span_ms : 0;
    if (pace->step == 0 || held)
        return false;
    // Where the stretch was most of a frame, full scale, which needs none,
    // may cost no more.
    if (expected_ms(pace, cost, 0) <= frame_ms)
        return change_step(pace, 0, now_ms);
    // Only up where the next scale is expected to fit too: on a steady
    // load the scale then never comes straight back down.
    if (pace->room_ms < ROOM_MS || expected_ms(pace, cost, pace->step - 1) > pace->budget_ms)
        return false;
    return change_step(pace, pace->step - 1, now_ms);
}

bool pace_frame(t_pace *pace, t_frame_times times, unsigned now_ms)
{
    if (pace->pinned)
        return false;
    if (pace->ignore > 0) {
        pace->ignore--;
        return false;
    }
    if (pace->window_frames == 0) {
        pace->window_start_ms = now_ms - (unsigned)times.frame_ms;
        pace->window_sum = t_frame_times();
    }
    pace->window_sum.frame_ms += times.frame_ms;
    pace->window_sum.draw_ms += times.draw_ms;
    pace->window_sum.stretch_ms += times.stretch_ms;
    pace->window_frames++;
    unsigned span_ms = now_ms - pace->window_start_ms;
    if (span_ms < WINDOW_MS || pace->window_frames < WINDOW_FRAMES)
        return false;
    float frames = (float)pace->window_frames;
    t_frame_times mean = {pace->window_sum.frame_ms / frames, pace->window_sum.draw_ms / frames,
                          pace->window_sum.stretch_ms / frames};
    pace->window_frames = 0;
    return judge_window(pace, mean, span_ms, now_ms);
}

void record_frame(t_frame_record *record, unsigned frame_ms, int step)
{
    record->frames++;
    record->at_ms[frame_ms < FRAME_MS_SLOTS ? frame_ms : FRAME_MS_SLOTS - 1]++;
    record->at_step[step]++;
}

// The slot where the count reaches `rank` (nearest rank, from 1).
static int slot_of_rank(const unsigned *counts, int slots, unsigned rank)
{
    unsigned seen = 0;
    for (int slot = 0; slot < slots; slot++) {
        seen += counts[slot];
        if (seen >= rank)
            return slot;
    }
    return slots - 1;
}

t_frame_summary summarize_frames(const t_frame_record *record)
{
    t_frame_summary summary = {};
    summary.frames = record->frames;
    if (record->frames == 0)
        return summary;
    unsigned half = (record->frames + 1) / 2;
    summary.median_ms = (unsigned)slot_of_rank(record->at_ms, FRAME_MS_SLOTS, half);
    summary.p95_ms = (unsigned)slot_of_rank(record->at_ms, FRAME_MS_SLOTS, (record->frames * 95 + 99) / 100);
    // Steps run from the largest scale down.
    int lowest = SCALE_STEPS - 1;
    while (record->at_step[lowest] == 0)
        lowest--;
    summary.scale_min = SCALE_STEP[lowest];
    summary.scale_median = SCALE_STEP[slot_of_rank(record->at_step, SCALE_STEPS, half)];
    return summary;
}
