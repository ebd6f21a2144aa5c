// The web page's draw time in headless chromium (WebGL2 on SwiftShader): for
// each moment, the show played from there at WIDTHxHEIGHT with the drawing
// scale pinned at 1, and the page's own figure (the GPU timer where chromium
// offers one, else the time between frames) for each frame it drew over the
// next SECONDS of the show.
//
// usage: node bench/web_draw.mjs PAGE_DIR WIDTHxHEIGHT SECONDS MOMENT...
// prints one line a moment, "web_draw moment=M median=MS frames=N clock=…",
// then renderer="…" (needs tests/web/node_modules: scripts/setup --tests).
import { launch_chromium, serve, wait_for_state, with_page } from '../tests/web/browser.mjs';

const [page_dir, size, seconds, ...moments] = process.argv.slice(2);
const [width, height] = (size ?? '').split('x').map(Number);
if (!page_dir || !width || !height || !(Number(seconds) > 0) || !moments.length) {
    console.error('usage: node bench/web_draw.mjs PAGE_DIR WIDTHxHEIGHT SECONDS MOMENT...');
    process.exit(2);
}

// In the page: the figure for each frame drawn from FROM to FROM + SECONDS.
function costs_until(from, seconds) {
    return new Promise((resolve) => {
        const costs = [];
        const sample = (now) => {
            const show = window.tessary;
            if (show.frame_time === now && show.cost_ms > 0 && show.T >= from)
                costs.push(show.cost_ms);
            if (show.state === 'playing' && show.T < from + seconds)
                requestAnimationFrame(sample);
            else
                resolve({ costs, clock: show.cost_clock });
        };
        requestAnimationFrame(sample);
    });
}

function median(values) {
    const sorted = [...values].sort((a, b) => a - b);
    const middle = sorted.length >> 1;
    return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

const server = await serve(page_dir);
const browser = await launch_chromium();
try {
    for (const moment of moments) {
        await with_page(browser, `${server.origin}/?from=${moment}&scale=1`, { width, height, deviceScaleFactor: 1 },
            { states: ['ready'] }, async (page) => {
                await page.keyboard.press('Enter');
                await wait_for_state(page, ['playing']);
                const { costs, clock } = await page.evaluate(costs_until, Number(moment), Number(seconds));
                if (!costs.length)
                    throw new Error(`no frame drawn from ${moment} s`);
                console.log(`web_draw moment=${moment} median=${median(costs).toFixed(2)} frames=${costs.length} clock="${clock}"`);
            });
    }
    await with_page(browser, `${server.origin}/?t=0`, { width: 64, height: 36, deviceScaleFactor: 1 }, {},
        async (page) => console.log(`renderer="${await page.evaluate(() => {
            const gl = document.createElement('canvas').getContext('webgl2');
            return gl.getParameter(gl.getExtension('WEBGL_debug_renderer_info').UNMASKED_RENDERER_WEBGL);
        })}"`));
} finally {
    await browser.close();
    await server.close();
}
