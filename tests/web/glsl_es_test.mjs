// The shader as WebGL2 gets it, through the page's own glsl_es(), checked by
// the reference compiler as GLSL ES 3.00: without a browser, so CI names the
// line that a browser would refuse. (The web page test compiles it in chromium.)
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { glsl_es } from '../../web/glsl_es.js';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');

test('data/tessary.glsl in its ES form validates as GLSL ES 3.00', () => {
    const es = glsl_es(fs.readFileSync(path.join(root, 'data/tessary.glsl'), 'utf8'));
    assert.equal(es.split('\n')[0], '#version 300 es');
    const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessary-glsl-es-'));
    try {
        const file = path.join(work, 'tessary.frag');
        fs.writeFileSync(file, es);
        const result = spawnSync('glslangValidator', [file], { encoding: 'utf8' });
        assert.equal(result.error, undefined, 'glslangValidator did not run (Debian: glslang-tools)');
        assert.equal(result.status, 0, result.stdout + result.stderr);
    } finally {
        fs.rmSync(work, { recursive: true, force: true });
    }
});
