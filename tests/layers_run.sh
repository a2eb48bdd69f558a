#!/usr/bin/env bash
# The layers hold: every header of every layer compiles on its own seeing
# only its layer and the layers below it (the same folders of links the
# build compiles each layer's sources through), and an upward include is
# refused. Arguments: the C++ compiler, the build's folder of layer views,
# the source tree.
set -euo pipefail
compiler=$1 views=$2 source=$3

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# One job per header: "LAYER HEADER".
jobs=()
for view in "$views"/*/; do
    layer=$(basename "$view")
    for header in "$source/src/$layer"/*.h; do
        [[ -e $header ]] && jobs+=("$layer $(basename "$header")")
    done
done
[[ ${#jobs[@]} -gt 20 ]] || fail "only ${#jobs[@]} headers found under $source/src"

check_header() {
    local layer=$1 header=$2
    if ! echo "#include \"$layer/$header\"" | "$compiler" -std=c++20 -fsyntax-only -I "$views/$layer" -x c++ - \
        2> "$scratch/$layer-$header.err"; then
        echo "$layer/$header:"
        head -5 "$scratch/$layer-$header.err"
        return 1
    fi
}
export -f check_header
export compiler views
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export scratch
if ! printf '%s\n' "${jobs[@]}" | xargs -P "$(nproc)" -L 1 bash -c 'check_header "$0" "$1"'; then
    fail "a header does not compile within its layer (an upward include, or a header that is not self-contained)"
fi

# The build's own protection, shown: the imaging layer cannot reach a screen.
if echo '#include "screens/ImageForm.h"' | "$compiler" -std=c++20 -fsyntax-only -I "$views/imaging" -x c++ - \
    2> "$scratch/upward.err"; then
    fail "an upward include from the imaging layer compiled"
fi
grep -q "No such file" "$scratch/upward.err" || fail "an upward include failed for another reason: $(head -3 "$scratch/upward.err")"
echo "layers: ${#jobs[@]} headers compile within their layers; an upward include is refused"
