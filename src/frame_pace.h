// How the show keeps its pace: the scale of the drawable the picture is drawn
// at, chosen from how long frames take against the display's refresh
// interval, and a record of the frames for a one-line report. Plain logic
// fed with frame times; the frame loop measures them.
#pragma once

// The scales the picture may be drawn at, full resolution first.
const int SCALE_STEPS = 5;
extern const float SCALE_STEP[SCALE_STEPS];

// One frame's times, in milliseconds.
struct t_frame_times {
    float frame_ms;    // the whole frame
    float draw_ms;     // of which drawing the picture (all of it where that can't be told apart)
    float stretch_ms;  // and stretching it onto the screen (none where that can't be told apart)
};

struct t_pace {
    float budget_ms;   // the display's refresh interval
    float stretch_ms;  // what stretching a smaller picture onto the screen costs
    int step;          // the scale drawn at now: SCALE_STEP[step]
    bool pinned;       // it never changes
    int ignore;        // samples still to skip: frames drawn before the last change
    // the window of frames being judged
    unsigned window_start_ms;
    t_frame_times window_sum;
    int window_frames;
    int windows_over;      // judged windows in a row that ran over
    unsigned room_ms;      // how long frames have had room to spare
    bool trying_up;             // the last step was up, and recent:
    unsigned trying_until_ms;   // a step down before this time takes it back
    unsigned hold_ms;      // how long a step up waits after a step down
    unsigned up_after_ms;  // no step up before this time
};

// A pace for a display that refreshes `refresh_hz` times a second; 0 when
// unknown (taken as 60). Starts at full resolution.
t_pace pace_for(int refresh_hz);

// A pace held at the step nearest `scale` whatever frames cost, for measuring.
t_pace pinned_pace(int refresh_hz, float scale);

// Where to start, from a warm frame drawn at `scale` before the show began.
// A picture far over the budget at full resolution starts lower at once.
void start_pace(t_pace *pace, t_frame_times warm, float scale);

// One frame, measured at `now_ms` (any zero point). True when the scale has changed.
bool pace_frame(t_pace *pace, t_frame_times times, unsigned now_ms);

float pace_scale(const t_pace *pace);

// Frames as the viewer saw them, in whole milliseconds from swap to swap.
const int FRAME_MS_SLOTS = 1000;  // the last slot holds every longer frame

struct t_frame_record {
    unsigned frames;
    unsigned at_ms[FRAME_MS_SLOTS];
    unsigned at_step[SCALE_STEPS];
};

void record_frame(t_frame_record *record, unsigned frame_ms, int step);

struct t_frame_summary {
    unsigned frames;
    unsigned median_ms, p95_ms;
    float scale_min, scale_median;
};

t_frame_summary summarize_frames(const t_frame_record *record);
