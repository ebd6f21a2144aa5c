#version 130
// Stand-in picture until the real show lands: vertex colours, a moving
// pattern and a strip of the font atlas, so every input is visibly in use.

// Timeline shared with the soundtrack (seconds).
const float BPM      = 120.0;
const float BAR      = 2.0;
const float T_INTRO  = 0.0;
const float T_BUILD  = 16.0;
const float T_THEME  = 32.0;
const float T_BREAK  = 64.0;
const float T_CLIMAX = 80.0;
const float T_OUTRO  = 112.0;
const float T_END    = 128.0;

in vec4 v_color;
uniform vec2 u_res;
uniform float T;
uniform sampler2D font;
out vec4 frag_color;

void main() {
    vec2 uv = gl_FragCoord.xy / u_res;
    float beat = fract(T * BPM / 60.0);
    float rings = 0.5 + 0.5 * sin(length(uv - 0.5) * 40.0 - T * 4.0);
    vec3 col = v_color.rgb * (0.35 + 0.45 * rings) * (1.0 - 0.3 * beat);
    // The atlas's middle rows (letters) across the middle of the screen.
    if (abs(uv.y - 0.5) < 0.125) {
        vec2 st = vec2(uv.x, 0.5 - (uv.y - 0.5) * 2.0);
        float d = texture(font, st).r;
        col = mix(col, vec3(1.0), smoothstep(0.45, 0.55, d));
    }
    frag_color = vec4(col, 1.0);
}
