// tessary in a browser: the desktop show's own shader, atlas and music, drawn
// by WebGL2 and timed by the audio clock. One start-up sequence (fetch, compile,
// decode, a first frame behind the start screen), then one frame loop between
// the viewer's click and the end screen.
//
// URL parameters: ?from=SECONDS starts the show there; ?scale=S pins the drawing
// buffer's scale (0.35 to 1); ?t=SECONDS shows that moment with the clock frozen,
// no start screen and no music (for tests).

import { glsl_es } from './glsl_es.js';

const END_TIME = 130;          // seconds: the show ends after the first frame past it
const MUSIC_RATE = 48000;      // the soundtrack's own rate: nothing is resampled
const START_LEAD = 0.1;        // seconds from asking for the music to its first sample
const FRAME_BUDGET_MS = 1000 / 60;
const SCALE_STEPS = [1, 0.85, 0.7, 0.6, 0.5, 0.42, 0.35];
const SCALE_DECISION_MS = 500; // frames summed up before each decision
const SCALE_RAISE_AFTER_MS = 3000;
const MAX_PENDING_QUERIES = 4; // timer queries in flight
const OVERLAY_KEY = 'i';

const FILES = { shader: 'tessary.glsl', atlas: 'font_subset_bw_sdf.jpg', music: 'music.opus' };

// The desktop program's vertex shader, less its identity matrix.
const VERTEX_SHADER = `#version 300 es
in vec2 i_position;
in vec4 i_color;
out vec4 v_color;
void main() {
    v_color = i_color;
    gl_Position = vec4(i_position, 0.0, 1.0);
}
`;
// The desktop program's quad, corner by corner: r, g, b, a, then x, y.
// The picture uses the interpolated corner colours.
const QUAD = new Float32Array([
    1, 0, 0, 1, -1, 1,
    0, 1, 0, 1, 1, 1,
    0, 0, 1, 1, 1, -1,
    1, 0, 0, 1, -1, 1,
    0, 0, 1, 1, 1, -1,
    1, 1, 1, 1, -1, -1,
]);
const ATTRIB_POSITION = 0;
const ATTRIB_COLOUR = 1;

// Shares of the loading figure: the music is most of the bytes; compiling and
// decoding take a moment of their own.
const LOADING_SHARES = { shader: 2, atlas: 6, music: 60, compile: 15, decode: 12, first_frame: 5 };

const params = new URLSearchParams(location.search);
const still_time = time_param('t');
const from_time = time_param('from') ?? 0;
const pinned_scale = scale_param('scale');

// What the overlay shows; the tests read it too.
const status = window.tessary = {
    state: 'loading', T: 0, frame_time: 0, scale: 1, width: 0, height: 0, cost_ms: 0, cost_clock: '',
};

const canvas = document.getElementById('picture');
let gl = null;
let scene = null;  // program, uniform locations, draw timer
let music = null;  // audio context, decoded buffer, the playing source
const scale = {
    level: 0, pinned: pinned_scale !== null, samples: [], decided_at: 0, steady_since: 0, last_frame: 0,
};
let overlay_shown_at = 0;

window.addEventListener('error', (event) => show_failure(event.error ?? new Error(event.message)));
window.addEventListener('unhandledrejection', (event) => show_failure(event.reason));
start_up().catch(show_failure);

async function start_up() {
    gl = canvas.getContext('webgl2', {
        alpha: false, antialias: false, depth: false, stencil: false, powerPreference: 'high-performance',
    });
    if (!gl)
        throw failure('This browser cannot show tessary: it has no WebGL2.');
    canvas.addEventListener('webglcontextlost', () =>
        show_failure(failure('The browser took the graphics context away; reload the page to watch again.')));
    document.addEventListener('keydown', on_key);

    const progress = {};
    const report = (part, fraction) => show_progress(progress, part, fraction);
    const with_music = still_time === null;
    if (with_music)
        music = { context: create_audio_context(), buffer: null, source: null, started_at: 0, offset: 0 };

    const [program, atlas, buffer] = await Promise.all([
        load_file(FILES.shader, (f) => report('shader', f))
            .then((blob) => blob.text())
            .then((text) => build_program(glsl_es(text)))
            .then((built) => { report('compile', 1); return built; }),
        load_file(FILES.atlas, (f) => report('atlas', f)).then(decode_atlas),
        with_music ? load_file(FILES.music, (f) => report('music', f))
            .then(decode_music)
            .then((decoded) => { report('decode', 1); return decoded; }) : null,
    ]);
    scene = create_scene(program, atlas);

    if (!with_music) {
        show_still(still_time);
        return;
    }
    music.buffer = buffer;
    // The first draw is where drivers finish compiling: paid now, behind the start screen.
    draw_frame(from_time);
    gl.finish();
    report('first_frame', 1);
    set_state('ready');
    document.getElementById('progress').textContent = 'click or press a key to start';
    document.addEventListener('click', () => status.state === 'ready' && start_show(from_time));
    document.getElementById('again').addEventListener('click', () => start_show(0));
    document.addEventListener('fullscreenchange', () => document.fullscreenElement || end_show());
    document.addEventListener('visibilitychange', restart_measuring);
}

// ---- loading ----

function failure(sentence, log = '') {
    const error = new Error(sentence);
    error.sentence = sentence;
    error.log = log;
    return error;
}

async function load_file(name, on_progress) {
    try {
        const response = await fetch(name);
        if (!response.ok)
            throw failure(`Could not load ${name} (HTTP ${response.status} ${response.statusText}).`);
        const expected = Number(response.headers.get('Content-Length')) || 0;
        const reader = response.body.getReader();
        const chunks = [];
        let received = 0;
        for (;;) {
            const { done, value } = await reader.read();
            if (done)
                break;
            chunks.push(value);
            received += value.length;
            if (expected > 0)
                on_progress(Math.min(1, received / expected));
        }
        on_progress(1);
        return new Blob(chunks);
    } catch (error) {
        throw error.sentence ? error : failure(`Could not load ${name}: the server did not answer.`);
    }
}

function show_progress(progress, part, fraction) {
    progress[part] = fraction;
    let done = 0;
    let all = 0;
    for (const [name, share] of Object.entries(LOADING_SHARES)) {
        done += share * (progress[name] ?? 0);
        all += share;
    }
    if (status.state === 'loading')
        document.getElementById('progress').textContent = `loading ${Math.floor(100 * done / all)} %`;
}

function compile_shader(type, source) {
    const shader = gl.createShader(type);
    gl.shaderSource(shader, source);
    gl.compileShader(shader);
    return shader;
}

async function build_program(fragment_source) {
    const parallel = gl.getExtension('KHR_parallel_shader_compile');
    const vs = compile_shader(gl.VERTEX_SHADER, VERTEX_SHADER);
    const fs = compile_shader(gl.FRAGMENT_SHADER, fragment_source);
    const program = gl.createProgram();
    gl.attachShader(program, vs);
    gl.attachShader(program, fs);
    gl.bindAttribLocation(program, ATTRIB_POSITION, 'i_position');
    gl.bindAttribLocation(program, ATTRIB_COLOUR, 'i_color');
    gl.linkProgram(program);
    // Where the browser compiles beside the page, the loading figure keeps moving meanwhile.
    if (parallel) {
        while (!gl.getProgramParameter(program, parallel.COMPLETION_STATUS_KHR))
            await new Promise((resolve) => setTimeout(resolve, 20));
    }
    if (gl.getProgramParameter(program, gl.LINK_STATUS))
        return program;
    if (!gl.getShaderParameter(fs, gl.COMPILE_STATUS))
        throw failure("The picture's shader (tessary.glsl) did not compile in this browser; the compiler's log follows.",
            gl.getShaderInfoLog(fs));
    const log = gl.getShaderParameter(vs, gl.COMPILE_STATUS) ? gl.getProgramInfoLog(program)
        : gl.getShaderInfoLog(vs);
    throw failure("The picture's shaders did not link in this browser; the log follows.", log);
}

async function decode_atlas(blob) {
    try {
        // The JPEG's own bytes, as libjpeg gives them to the desktop program.
        return await createImageBitmap(blob, { premultiplyAlpha: 'none', colorSpaceConversion: 'none' });
    } catch {
        throw failure(`The font atlas ${FILES.atlas} could not be decoded.`);
    }
}

function create_audio_context() {
    if (!window.AudioContext)
        throw failure('This browser cannot play the music: it has no Web Audio.');
    try {
        return new AudioContext({ sampleRate: MUSIC_RATE });
    } catch {
        return new AudioContext();
    }
}

async function decode_music(blob) {
    try {
        return await music.context.decodeAudioData(await blob.arrayBuffer());
    } catch {
        throw failure(`This browser could not decode the music (${FILES.music}).`);
    }
}

// The desktop program's state for its one draw call: quad, program, uniforms, atlas on unit 0.
function create_scene(program, atlas) {
    gl.useProgram(program);
    const vao = gl.createVertexArray();
    gl.bindVertexArray(vao);
    gl.bindBuffer(gl.ARRAY_BUFFER, gl.createBuffer());
    gl.bufferData(gl.ARRAY_BUFFER, QUAD, gl.STATIC_DRAW);
    const stride = 6 * 4;
    gl.enableVertexAttribArray(ATTRIB_POSITION);
    gl.enableVertexAttribArray(ATTRIB_COLOUR);
    gl.vertexAttribPointer(ATTRIB_COLOUR, 4, gl.FLOAT, false, stride, 0);
    gl.vertexAttribPointer(ATTRIB_POSITION, 2, gl.FLOAT, false, stride, 4 * 4);

    // As the desktop upload: the image's top row at v = 0, nearest minification,
    // no mipmaps; magnification and wrapping stay at their defaults.
    gl.activeTexture(gl.TEXTURE0);
    gl.bindTexture(gl.TEXTURE_2D, gl.createTexture());
    gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGB8, gl.RGB, gl.UNSIGNED_BYTE, atlas);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
    atlas.close();

    const timer = gl.getExtension('EXT_disjoint_timer_query_webgl2');
    return {
        u_res: gl.getUniformLocation(program, 'u_res'),
        T: gl.getUniformLocation(program, 'T'),
        timer, pending_queries: [],
    };
}

// ---- the picture ----

// The 16:9 box, centred on whole device pixels; the rest of the window stays black.
// The drawing buffer is the box times the scale, and the shader sees its size.
function fit_picture(drawing_scale) {
    const ratio = window.devicePixelRatio || 1;
    const window_width = Math.round(window.innerWidth * ratio);
    const window_height = Math.round(window.innerHeight * ratio);
    const box_width = Math.min(window_width, Math.floor(window_height * 16 / 9));
    const box_height = Math.min(window_height, Math.round(box_width * 9 / 16));
    const style = canvas.style;
    style.left = `${Math.floor((window_width - box_width) / 2) / ratio}px`;
    style.top = `${Math.floor((window_height - box_height) / 2) / ratio}px`;
    style.width = `${box_width / ratio}px`;
    style.height = `${box_height / ratio}px`;
    const width = Math.max(1, Math.round(box_width * drawing_scale));
    const height = Math.max(1, Math.round(box_height * drawing_scale));
    if (canvas.width !== width || canvas.height !== height) {
        canvas.width = width;
        canvas.height = height;
    }
}

function draw_frame(t) {
    status.scale = scale.pinned ? pinned_scale : SCALE_STEPS[scale.level];
    fit_picture(status.scale);
    const width = gl.drawingBufferWidth;
    const height = gl.drawingBufferHeight;
    gl.viewport(0, 0, width, height);
    gl.uniform2f(scene.u_res, width, height);
    gl.uniform1f(scene.T, t);
    const query = scene.timer && scene.pending_queries.length < MAX_PENDING_QUERIES ? gl.createQuery() : null;
    if (query)
        gl.beginQuery(scene.timer.TIME_ELAPSED_EXT, query);
    gl.drawArrays(gl.TRIANGLES, 0, 6);
    if (query) {
        gl.endQuery(scene.timer.TIME_ELAPSED_EXT);
        scene.pending_queries.push(query);
    }
    status.T = t;
    status.width = width;
    status.height = height;
}

// The cost of the latest draw that can be known, in milliseconds: the GPU's
// own clock where the browser offers a timer query (its answers come a few
// frames late), else the time between frames. Null while none is known.
function frame_cost(now) {
    let cost = null;
    if (scene.timer) {
        const queries = scene.pending_queries;
        while (queries.length && gl.getQueryParameter(queries[0], gl.QUERY_RESULT_AVAILABLE)) {
            const query = queries.shift();
            cost = gl.getQueryParameter(query, gl.QUERY_RESULT) / 1e6;
            gl.deleteQuery(query);
        }
        // The GPU did something else meanwhile: those times mean nothing.
        if (gl.getParameter(scene.timer.GPU_DISJOINT_EXT))
            cost = null;
        status.cost_clock = 'GPU timer';
    } else {
        if (scale.last_frame)
            cost = now - scale.last_frame;
        status.cost_clock = 'frame interval';
    }
    scale.last_frame = now;
    return cost;
}

// Frames over budget lower the drawing buffer's scale a step; a steady run with
// room to spare raises it again. Frame intervals stop at the display's rate, so
// there a steady run at budget earns a try; the GPU clock shows the room itself.
function adapt_scale(cost, now) {
    if (scale.pinned || cost === null)
        return;
    scale.samples.push(cost);
    if (now - scale.decided_at < SCALE_DECISION_MS)
        return;
    const typical = median(scale.samples);
    scale.samples.length = 0;
    scale.decided_at = now;
    const over = typical > FRAME_BUDGET_MS * 1.15;
    const room = scene.timer ? typical < FRAME_BUDGET_MS / 2 : !over;
    if (over && scale.level < SCALE_STEPS.length - 1) {
        scale.level += 1;
        scale.steady_since = now;
    } else if (!room) {
        scale.steady_since = now;
    } else if (scale.level > 0 && now - scale.steady_since >= SCALE_RAISE_AFTER_MS) {
        scale.level -= 1;
        scale.steady_since = now;
    }
}

// After a pause (a start, a hidden tab) the first interval would say nothing of a frame's cost.
function restart_measuring() {
    scale.samples.length = 0;
    scale.last_frame = 0;
    scale.decided_at = performance.now();
}

function median(values) {
    const sorted = [...values].sort((a, b) => a - b);
    const middle = sorted.length >> 1;
    return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

function show_still(t) {
    draw_frame(t);
    window.addEventListener('resize', () => draw_frame(t));
    requestAnimationFrame(() => set_state('still'));
}

// ---- the show ----

// Runs inside the click or key handler: full screen and sound need its user activation.
function start_show(from) {
    document.documentElement.requestFullscreen?.().catch(() => {}); // a window does too
    const resumed = music.context.resume();
    set_state('starting');
    restart_measuring();
    // The first frame goes up before the music starts, so drawing it never delays the sound.
    draw_frame(from);
    Promise.all([resumed, new Promise(requestAnimationFrame)]).then(() => {
        if (status.state !== 'starting')
            return;
        start_music(from);
        set_state('playing');
        requestAnimationFrame(show_frame);
    });
}

function show_frame(now) {
    if (status.state !== 'playing')
        return;
    const t = music_time(now);
    if (t > END_TIME) {
        end_show();
        return;
    }
    draw_frame(t);
    status.frame_time = now;
    const cost = frame_cost(now);
    if (cost !== null)
        status.cost_ms = cost;
    adapt_scale(cost, now);
    update_overlay(now);
    requestAnimationFrame(show_frame);
}

function end_show() {
    if (status.state !== 'playing' && status.state !== 'starting')
        return;
    stop_music();
    set_state('ended');
    if (document.fullscreenElement)
        document.exitFullscreen().catch(() => {});
    document.getElementById('again').focus();
}

function start_music(from) {
    const source = music.context.createBufferSource();
    source.buffer = music.buffer;
    source.connect(music.context.destination);
    music.started_at = music.context.currentTime + START_LEAD;
    music.offset = from;
    source.start(music.started_at, Math.min(from, music.buffer.duration));
    music.source = source;
}

function stop_music() {
    if (music?.source) {
        music.source.stop();
        music.source.disconnect();
        music.source = null;
    }
    music?.context.suspend();
}

// The show's time is where the music is heard now: the output's last timestamp
// carried forward to this frame's time. So a hidden tab or a slow frame never
// puts the picture out of step with the sound.
function music_time(now) {
    const context = music.context;
    let heard;
    const stamp = context.getOutputTimestamp?.();
    if (stamp && stamp.performanceTime > 0)
        heard = stamp.contextTime + (now - stamp.performanceTime) / 1000;
    else
        heard = context.currentTime - (context.outputLatency || 0) - (context.baseLatency || 0);
    return music.offset + Math.max(0, heard - music.started_at);
}

// ---- screens, keys and the overlay ----

function set_state(state) {
    status.state = state;
    document.body.dataset.state = state;
}

function on_key(event) {
    if (event.repeat || event.ctrlKey || event.metaKey || event.altKey)
        return;
    if (event.key.toLowerCase() === OVERLAY_KEY) {
        const overlay = document.getElementById('overlay');
        overlay.hidden = !overlay.hidden;
        overlay_shown_at = 0;
        update_overlay(performance.now());
    } else if (event.key === 'Escape') {
        end_show();
    } else if (status.state === 'ready') {
        start_show(from_time);
    }
}

function update_overlay(now) {
    const overlay = document.getElementById('overlay');
    if (overlay.hidden || now - overlay_shown_at < 250)
        return;
    overlay_shown_at = now;
    const how = scale.pinned ? 'pinned' : 'adaptive';
    overlay.textContent =
        `scale ${status.scale.toFixed(2)} (${how})  ${status.width}×${status.height}\n` +
        `draw ${status.cost_ms.toFixed(1)} ms (${status.cost_clock || 'none yet'})\n` +
        `T ${status.T.toFixed(3)} s`;
}

function show_failure(error) {
    if (status.state === 'failed')
        return;
    const sentence = error?.sentence ?? `The show stopped: ${error?.message ?? error}.`;
    const log = error?.log ?? '';
    try {
        stop_music();
    } catch {
        // nothing is playing
    }
    set_state('failed');
    document.getElementById('failure-sentence').textContent = sentence;
    document.getElementById('failure-log').textContent = log;
    console.error(log ? `${sentence}\n${log}` : sentence);
}

// ---- URL parameters ----

function time_param(name) {
    const value = Number.parseFloat(params.get(name));
    return Number.isFinite(value) && value >= 0 ? value : null;
}

function scale_param(name) {
    const value = Number.parseFloat(params.get(name));
    return Number.isFinite(value) ? Math.min(1, Math.max(SCALE_STEPS.at(-1), value)) : null;
}
