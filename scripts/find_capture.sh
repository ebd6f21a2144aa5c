# Sourced by the scripts that drive the capture tool.
# find_capture [PATH]: prints the tessary-capture to use: PATH when given, else
# $TESSARY_CAPTURE when set, else the first one built in the repository
# (build/ first). Fails when that one is not an executable.
find_capture() {
    local root candidate=${1:-${TESSARY_CAPTURE:-}}
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    if [[ -z $candidate ]]; then
        for candidate in "$root"/build/tools/capture/tessary-capture "$root"/build*/tools/capture/tessary-capture; do
            [[ -x $candidate ]] && break
        done
    fi
    [[ -x $candidate ]] && echo "$candidate"
}
