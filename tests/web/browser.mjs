// Serving the web page and driving Debian's chromium over the DevTools
// protocol (puppeteer-core), for the web tests and the bench.
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const TYPES = {
    '.html': 'text/html; charset=utf-8',
    '.css': 'text/css',
    '.js': 'text/javascript',
    '.glsl': 'text/plain; charset=utf-8',
    '.jpg': 'image/jpeg',
    '.opus': 'audio/ogg',
    '.png': 'image/png',
};

// Serves DIR on a free port of 127.0.0.1. overrides maps a file name to the
// bytes to serve instead, or to null for a 404. Returns { origin, close }.
export async function serve(dir, overrides = {}) {
    const server = http.createServer((request, response) => {
        const name = decodeURIComponent(new URL(request.url, 'http://x').pathname.slice(1)) || 'index.html';
        let body = overrides[name];
        if (body === undefined && !name.includes('..')) {
            try {
                body = fs.readFileSync(path.join(dir, name));
            } catch {
                body = null;
            }
        }
        if (body === null || body === undefined) {
            response.writeHead(404, { 'Content-Type': 'text/plain' });
            response.end('not found');
            return;
        }
        response.writeHead(200, {
            'Content-Type': TYPES[path.extname(name)] ?? 'application/octet-stream',
            'Content-Length': body.length,
            'Cache-Control': 'no-store',
        });
        response.end(body);
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    return {
        origin: `http://127.0.0.1:${server.address().port}`,
        close: () => new Promise((resolve) => server.close(resolve)),
    };
}

// Headless chromium drawing WebGL2 on SwiftShader, playing sound without a
// gesture, in a profile of its own that is removed on close.
export async function launch_chromium() {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tessary-chromium-'));
    const browser = await puppeteer.launch({
        executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
        headless: true,
        args: [
            '--headless=new', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
            '--autoplay-policy=no-user-gesture-required', '--disable-background-networking',
            '--disable-component-update', '--disable-sync', '--no-first-run', '--force-color-profile=srgb',
            `--user-data-dir=${profile}`,
            ...(process.getuid?.() === 0 ? ['--no-sandbox'] : []),
        ],
    });
    const close = browser.close.bind(browser);
    browser.close = async () => {
        await close();
        fs.rmSync(profile, { recursive: true, force: true });
    };
    return browser;
}

// Opens URL in a new tab of VIEWPORT ({ width, height, deviceScaleFactor }),
// waits until the page has settled (its state is one of STATES), hands the tab
// to USE and closes it however USE ends. PREPARE gets the tab before it loads.
// The tab's console errors are in page.console_errors.
export async function with_page(browser, url, viewport, { states = ['still', 'ready', 'failed'], prepare } = {}, use) {
    const page = await browser.newPage();
    try {
        page.console_errors = [];
        page.on('console', (message) => message.type() === 'error' && page.console_errors.push(message.text()));
        await page.setViewport(viewport);
        await prepare?.(page);
        await page.goto(url);
        await wait_for_state(page, states);
        return await use(page);
    } finally {
        await page.close();
    }
}

export async function wait_for_state(page, states, timeout = 60000) {
    await page.waitForFunction((wanted) => wanted.includes(window.tessary?.state), { timeout, polling: 50 }, states);
    return page.evaluate(() => window.tessary.state);
}
