# Sourced by the scripts that run the program on the sample installation: builds one target,
# copies examples/drive-c into a work folder (so runs never change examples/) and points the
# program's environment at the copy. Usage: prepare_sample TARGET WORKFOLDER [DEPENDENCY GROUP]...
# (the groups of scripts/install-deps.sh that the caller needs besides "build").
prepare_sample() {
    local target="$1" work="$2"
    bash scripts/install-deps.sh build "${@:3}"
    cmake --preset default >/dev/null
    cmake --build --preset default --target "$target"
    rm -rf "$work"
    mkdir -p "$work/sample"
    cp -r examples/drive-c "$work/sample/"
    export TS6_SAMPLE="$work/sample"
    # shellcheck source=../examples/sample.env
    source examples/sample.env
}
