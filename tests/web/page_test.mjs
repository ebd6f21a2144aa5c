// The web page in headless chromium (WebGL2 on SwiftShader), served from the
// built folder: its picture against tessary-capture, the letterbox, the music
// and its clock, the ending, each failure's sentence, and that nothing leaves
// the origin. Frames are small: SwiftShader is about nine times slower than llvmpipe.
//
// Environment (set by ctest): TESSARY_WEB_DIR the built page, TESSARY_DATA_DIR
// the show's data, TESSARY_CAPTURE the capture tool; TESSARY_SCREENSHOT, when
// set, receives a picture of the page for the README.
import assert from 'node:assert/strict';
import { execFile, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { promisify } from 'node:util';
import { launch_chromium, serve, wait_for_state, with_page } from './browser.mjs';

const web_dir = process.env.TESSARY_WEB_DIR;
const data_dir = process.env.TESSARY_DATA_DIR;
const capture_tool = process.env.TESSARY_CAPTURE;
assert.ok(web_dir && data_dir && capture_tool, 'TESSARY_WEB_DIR, TESSARY_DATA_DIR and TESSARY_CAPTURE must be set');

const MOMENTS = [8, 20, 42.5, 70, 96];
const TEXT_MOMENT = 8; // the title: a flipped atlas shows there
const SMALL = { width: 320, height: 180, deviceScaleFactor: 1 };
const MAX_RMSE = 3;           // of 255
const MAX_OFF_SHARE = 0.005;  // of the pixels, off by more than OFF_BY in a channel
const OFF_BY = 8;
const MAX_CLOCK_ERROR = 0.020; // seconds between T and the music heard

let work;
let browser;
let server;
const captures = {};
// Every request and console error of every tab, for the last test.
const served_from = new Set();
const requested = [];
const console_errors = [];

before(async () => {
    work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessary-web-'));
    // The references render on llvmpipe while chromium starts.
    const rendering = MOMENTS.map(async (t) => {
        const file = path.join(work, `capture-${t}.png`);
        await promisify(execFile)(capture_tool, ['--data', data_dir, '--still', String(t), '--size', '320x180',
            '-q', '-o', file]);
        captures[t] = rgb_of(fs.readFileSync(file));
    });
    [browser, server] = await Promise.all([launch_chromium(), serve(web_dir)]);
    served_from.add(server.origin);
    await Promise.all(rendering);
});

after(async () => {
    await browser?.close();
    await server?.close();
    if (work)
        fs.rmSync(work, { recursive: true, force: true });
});

// ---- helpers ----

// Opens the page at QUERY in a tab of its own, hands the tab to USE, closes it.
function on_page(query, viewport, { origin = server.origin, states, prepare } = {}, use) {
    return with_page(browser, `${origin}/${query}`, viewport, {
        states,
        prepare: async (page) => {
            page.on('request', (request) => requested.push(request.url()));
            page.on('console', (message) => message.type() === 'error' && console_errors.push(message.text()));
            await prepare?.(page);
        },
    }, use);
}

// The page served with some of its files replaced (null: not found).
async function with_files(overrides, use) {
    const planted = await serve(web_dir, overrides);
    served_from.add(planted.origin);
    try {
        return await use(planted.origin);
    } finally {
        await planted.close();
    }
}

// A PNG's pixels as 8-bit RGB, through ImageMagick.
function rgb_of(png) {
    return execFileSync('convert', ['png:-', '-depth', '8', 'rgb:-'], { input: png, maxBuffer: 1 << 26 });
}

// Moment T as the page shows it, frozen, at scale 1: the screenshot's RGB.
function still(t, viewport = SMALL, origin = server.origin) {
    return on_page(`?t=${t}&scale=1`, viewport, { origin, states: ['still', 'failed'] }, async (page) => {
        assert.equal(await page.evaluate(() => window.tessary.state), 'still',
            await page.$eval('#failure-sentence', (e) => e.textContent));
        return rgb_of(await page.screenshot());
    });
}

function difference(a, b) {
    assert.equal(a.length, b.length, 'the pictures differ in size');
    let squares = 0;
    let off = 0;
    for (let i = 0; i < a.length; i += 3) {
        let worst = 0;
        for (let c = 0; c < 3; c++) {
            const d = a[i + c] - b[i + c];
            squares += d * d;
            worst = Math.max(worst, Math.abs(d));
        }
        if (worst > OFF_BY)
            off += 1;
    }
    return { rmse: Math.sqrt(squares / a.length), off_share: off / (a.length / 3) };
}

const matches = ({ rmse, off_share }) => rmse <= MAX_RMSE && off_share <= MAX_OFF_SHARE;

function describe_difference({ rmse, off_share }) {
    return `RMSE ${rmse.toFixed(2)}/255, ${(100 * off_share).toFixed(2)} % of pixels off by more than ${OFF_BY}`;
}

const shown = (page, selector) => page.$eval(selector, (e) => getComputedStyle(e).display !== 'none');

// ---- the picture ----

describe('picture', () => {
    test('each moment matches tessary-capture --still at 320x180', async (context) => {
        for (const t of MOMENTS) {
            const found = difference(await still(t), captures[t]);
            context.diagnostic(`T = ${t}: ${describe_difference(found)}`);
            assert.ok(matches(found), `T = ${t}: ${describe_difference(found)}`);
        }
    });

    test('a planted fault fails the comparison: flipped atlas, u_res not the drawing buffer', async (context) => {
        const atlas = execFileSync('convert', [path.join(web_dir, 'font_subset_bw_sdf.jpg'), '-flip', 'jpg:-']);
        const script = fs.readFileSync(path.join(web_dir, 'tessary.js'), 'utf8');
        const wrong_res = script.replace('gl.uniform2f(scene.u_res, width, height)', 'gl.uniform2f(scene.u_res, 1920, 1080)');
        assert.notEqual(wrong_res, script, 'the u_res upload was not found in tessary.js');
        for (const [fault, overrides] of [['flipped atlas', { 'font_subset_bw_sdf.jpg': atlas }],
            ['u_res 1920x1080', { 'tessary.js': Buffer.from(wrong_res) }]]) {
            const found = await with_files(overrides, (origin) => still(TEXT_MOMENT, SMALL, origin));
            const result = difference(found, captures[TEXT_MOMENT]);
            context.diagnostic(`${fault}: ${describe_difference(result)}`);
            assert.ok(!matches(result), `${fault} passed: ${describe_difference(result)}`);
        }
    });

    test('a 4:3 window at device pixel ratio 2 gets black bars and the same 16:9 picture', async (context) => {
        const shot = await still(42.5, { width: 160, height: 120, deviceScaleFactor: 2 });
        const row = 320 * 3;
        assert.equal(shot.length, 240 * row, 'the screenshot is not 320x240 device pixels');
        const bars = Buffer.concat([shot.subarray(0, 30 * row), shot.subarray(210 * row)]);
        assert.ok(bars.every((v) => v <= 2), 'the bars above and below the picture are not black');
        const found = difference(shot.subarray(30 * row, 210 * row), captures[42.5]);
        context.diagnostic(`letterboxed T = 42.5: ${describe_difference(found)}`);
        assert.ok(matches(found), `the letterboxed picture: ${describe_difference(found)}`);

        if (process.env.TESSARY_SCREENSHOT) {
            await on_page(`?t=${TEXT_MOMENT}&scale=1`, { width: 640, height: 480, deviceScaleFactor: 1 },
                { states: ['still'] }, (page) => page.screenshot({ path: process.env.TESSARY_SCREENSHOT }));
        }
    });
});

// ---- the running show ----

// Notes every music source the page starts (the start's context time, its
// offset, the decoded length) and whether it was stopped, from Web Audio's
// side: the page's own bookkeeping stays out of the test.
function observe_music() {
    const start = AudioBufferSourceNode.prototype.start;
    const stop = AudioBufferSourceNode.prototype.stop;
    window.music_started = [];
    AudioBufferSourceNode.prototype.start = function (when = 0, offset = 0, ...rest) {
        window.music_started.push({
            node: this, context: this.context, when: Math.max(when, this.context.currentTime), offset,
            duration: this.buffer.duration, stopped: false,
        });
        return start.call(this, when, offset, ...rest);
    };
    AudioBufferSourceNode.prototype.stop = function (...args) {
        const music = window.music_started.find((m) => m.node === this);
        if (music)
            music.stopped = true;
        return stop.apply(this, args);
    };
}

// Until the audio clock has run SECONDS (or a timeout): each frame the page
// drew, its T beside where the music was heard at that frame's time (the
// output's timestamp carried forward), and how far the audio clock had run.
function follow_clock(seconds) {
    return new Promise((resolve) => {
        const music = window.music_started.at(-1);
        const samples = [];
        const give_up = performance.now() + 10000 * seconds;
        let first_stamp = null;
        const sample = (now) => {
            const stamp = music.context.getOutputTimestamp();
            const heard = stamp.contextTime + (now - stamp.performanceTime) / 1000 - music.when;
            if (window.tessary.frame_time === now && stamp.performanceTime > 0 && heard > 0) {
                first_stamp ??= stamp.contextTime;
                samples.push({ T: window.tessary.T, music: music.offset + heard, played: stamp.contextTime - first_stamp });
            }
            if ((samples.at(-1)?.played ?? 0) < seconds && now < give_up)
                requestAnimationFrame(sample);
            else
                resolve(samples);
        };
        requestAnimationFrame(sample);
    });
}

// The length of a PCM WAV file in seconds.
function wav_seconds(file) {
    const wav = fs.readFileSync(file);
    let bytes_per_second = 0;
    for (let at = 12; at + 8 <= wav.length; at += 8 + wav.readUInt32LE(at + 4) + (wav.readUInt32LE(at + 4) & 1)) {
        const id = wav.toString('ascii', at, at + 4);
        if (id === 'fmt ')
            bytes_per_second = wav.readUInt32LE(at + 16);
        else if (id === 'data')
            return wav.readUInt32LE(at + 4) / bytes_per_second;
    }
    throw new Error(`${file} has no data chunk`);
}

describe('the running show', () => {
    test('music decodes to the WAV length, T follows the audio clock, Escape ends it, watch again restarts, ' +
        'leaving full screen ends it',
        (context) => on_page('?from=20&scale=1', SMALL, { states: ['ready'], prepare: (p) => p.evaluateOnNewDocument(observe_music) },
            async (page) => {
                await page.keyboard.press('Space');
                await wait_for_state(page, ['playing']);
                assert.ok(await page.evaluate(() => document.fullscreenElement !== null), 'the key did not go full screen');
                const duration = await page.evaluate(() => window.music_started[0].duration);
                const expected = wav_seconds(path.join(data_dir, 'music.wav'));
                context.diagnostic(`music: ${duration.toFixed(4)} s decoded, the WAV holds ${expected.toFixed(4)} s`);
                assert.ok(Math.abs(duration - expected) <= 0.010, `the music decodes to ${duration} s, the WAV is ${expected} s`);

                const samples = await page.evaluate(follow_clock, 3);
                const worst = Math.max(...samples.map((s) => Math.abs(s.T - s.music)));
                context.diagnostic(`${samples.length} frames over 3 s of music, T within ${(1000 * worst).toFixed(1)} ms of it`);
                assert.ok(samples.at(-1)?.played >= 3, 'the music did not play for 3 s');
                assert.ok(samples.length >= 5, `only ${samples.length} frames drawn in 3 s`);
                assert.ok(worst <= MAX_CLOCK_ERROR, `T strays ${(1000 * worst).toFixed(1)} ms from the music`);

                await page.keyboard.press('Escape');
                await wait_for_state(page, ['ended']);
                assert.ok(await page.evaluate(() => window.music_started[0].stopped), 'Escape left the music playing');
                assert.ok(await shown(page, '#end'), 'no end screen');
                assert.equal(await page.$eval('#again', (e) => e.textContent), 'watch again');

                await page.click('#again');
                await wait_for_state(page, ['playing']);
                const again = await page.evaluate(() => ({ offset: window.music_started[1].offset, T: window.tessary.T }));
                assert.equal(again.offset, 0, 'watch again does not start the music from the beginning');
                assert.ok(again.T < 1, `watch again starts the picture at T = ${again.T}`);

                await page.evaluate(() => document.exitFullscreen());
                await wait_for_state(page, ['ended']);
            }));

    test('from 127 s it reaches the end screen by itself, drawing at a lower scale on SwiftShader',
        (context) => on_page('?from=127', SMALL, { states: ['ready'] },
            async (page) => {
                await page.keyboard.press('Enter');
                await wait_for_state(page, ['playing']);
                const started = Date.now();
                await wait_for_state(page, ['ended'], 30000);
                const seconds = (Date.now() - started) / 1000;
                const { T, scale } = await page.evaluate(() => window.tessary);
                context.diagnostic(`ended after ${seconds.toFixed(1)} s; last frame at T = ${T.toFixed(3)}, scale ${scale}`);
                assert.ok(seconds >= 2.5, `the show ended ${seconds} s after it started from 127 s`);
                assert.ok(T > 127.5 && T <= 130, `the last frame was drawn at T = ${T}`);
                assert.ok(await shown(page, '#end'), 'no end screen');
                assert.ok(scale < 1 && scale >= 0.35, `the drawing scale is ${scale} after frames far over budget`);
            }));
});

// ---- failures ----

describe('failures', () => {
    const broken_shader = fs.readFileSync(path.join(web_dir, 'tessary.glsl'), 'utf8')
        .replace('\n', '\nthis line is no GLSL\n');
    const no_webgl2 = (page) => page.evaluateOnNewDocument(() => {
        const get_context = HTMLCanvasElement.prototype.getContext;
        HTMLCanvasElement.prototype.getContext = function (kind, ...rest) {
            return kind === 'webgl2' ? null : get_context.call(this, kind, ...rest);
        };
    });
    const cases = [
        ['no WebGL2', {}, no_webgl2, /no WebGL2/],
        ['a shader that does not compile', { 'tessary.glsl': Buffer.from(broken_shader) }, null, /did not compile/],
        ['a file that does not load', { 'font_subset_bw_sdf.jpg': null }, null,
            /^Could not load font_subset_bw_sdf\.jpg \(HTTP 404/],
        ['music that does not decode', { 'music.opus': Buffer.from('no music in here') }, null,
            /could not decode the music/],
    ];
    for (const [what, overrides, prepare, sentence] of cases) {
        test(`${what}: one sentence on the page and in the console`, () => with_files(overrides, (origin) =>
            on_page('', SMALL, { origin, states: ['failed', 'ready'], prepare }, async (page) => {
                const text = await page.$eval('#failure-sentence', (e) => e.textContent);
                assert.match(text, sentence);
                assert.ok(await shown(page, '#failure'), 'the sentence is not on the page');
                assert.ok(page.console_errors.some((line) => line.startsWith(text)), 'the console did not get it');
                if (what.includes('shader')) {
                    assert.match(await page.$eval('#failure-log', (e) => e.textContent), /\b2:/,
                        "the compiler's log, naming line 2, is not shown");
                }
            })));
    }
});

test('nothing is requested outside the origin, and the page breaks no rule of its security policy', () => {
    const elsewhere = requested.filter((url) => !served_from.has(new URL(url).origin));
    assert.ok(requested.length > 0);
    assert.deepEqual(elsewhere, []);
    assert.deepEqual(console_errors.filter((line) => /Content Security Policy/i.test(line)), []);
});
