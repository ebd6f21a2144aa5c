// The one place where data/tessary.glsl, written for desktop GLSL 1.30, becomes
// the GLSL ES 3.00 that WebGL2 compiles. The page and the shader test both
// import it, so what CI validates is what browsers get.
//
// Everything the shader uses means the same in both languages; ES only wants
// its own #version line and default precisions. highp int matters: the song's
// step masks reach 53,264, past what mediump promises. "#line 2" keeps the line
// numbers in a compiler's log those of the file.

const DESKTOP_VERSION = '#version 130';

export function glsl_es(source) {
    const first_line_end = source.indexOf('\n');
    const first_line = source.slice(0, first_line_end).trim();
    if (first_line !== DESKTOP_VERSION)
        throw new Error(`tessary.glsl starts with "${first_line}" instead of "${DESKTOP_VERSION}"`);
    return '#version 300 es\nprecision highp float;\nprecision highp int;\n#line 2\n' +
        source.slice(first_line_end + 1);
}
