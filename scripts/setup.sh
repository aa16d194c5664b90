# Sourced by the other scripts: installs the system packages the build and
# tests need (when missing), then creates .venv with the Python tools and
# activates it. Safe to run again; it only installs what is missing.
#
# A script that only builds and runs the module (the demo) sets
# SETUP_FOR=build before sourcing this, and gets only what building needs;
# every other script also gets what the tests and type checks need.
set -euo pipefail
SETUP_FOR="${SETUP_FOR:-tests}"

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

# Installs the Debian packages given that are not installed yet.
ensure_system_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
    done
    if ((${#missing[@]})); then
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        echo "Installing system packages: ${missing[*]}"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

# libasound2: the ALSA library the device classes load at run time (the
# build needs no ALSA headers; the module also works without the library).
# Newer Debian releases name it libasound2t64.
alsa_package=libasound2
if dpkg -s libasound2t64 >/dev/null 2>&1; then
    alsa_package=libasound2t64
elif ! dpkg -s libasound2 >/dev/null 2>&1; then
    $( [ "$(id -u)" -ne 0 ] && echo sudo ) apt-get update -qq
    apt-cache show libasound2t64 >/dev/null 2>&1 && alsa_package=libasound2t64
fi
ensure_system_packages g++ cmake ninja-build "$alsa_package"
# For the tests: GoogleTest for the engine's, and sox, in which the WAV tests
# check that written files open.
[ "$SETUP_FOR" = build ] || ensure_system_packages libgtest-dev sox

if [ ! -x .venv/bin/python ]; then
    echo "Creating the Python environment in .venv..."
    python3 -m venv .venv
fi
# shellcheck disable=SC1091
source .venv/bin/activate

# The Python tools, as (pip requirement, module it installs): what building
# needs, then what the tests and type checks need (pyright with the Node.js
# runtime it runs on, from the package index). Installed only when a module
# is missing, so a second run does not wait on the package index.
BUILD_TOOLS=("scikit-build-core>=0.10" scikit_build_core)
# soundfile, mido, pedalboard and pyo: only the benchmarks and tests compare
# against them; nbclient, nbformat and ipykernel run the example notebook in
# the tests.
TEST_TOOLS=(pytest pytest hypothesis hypothesis numpy numpy mypy mypy "pyright[nodejs]" pyright
            soundfile soundfile mido mido pedalboard pedalboard pyo pyo
            nbclient nbclient nbformat nbformat ipykernel ipykernel)
ensure_python_tools() {
    local missing=() args=("$@") i
    for ((i = 0; i < $#; i += 2)); do
        python -c "import importlib.util, sys; sys.exit(importlib.util.find_spec('${args[i + 1]}') is None)" \
            2>/dev/null || missing+=("${args[i]}")
    done
    if ((${#missing[@]})); then
        echo "Installing Python tools: ${missing[*]}"
        python -m pip install -q --upgrade pip >/dev/null
        python -m pip install -q --progress-bar on "${missing[@]}"
    fi
}
if [ "$SETUP_FOR" = build ]; then
    ensure_python_tools "${BUILD_TOOLS[@]}"
else
    ensure_python_tools "${BUILD_TOOLS[@]}" "${TEST_TOOLS[@]}"
fi

# The digest of everything the installed module is built from, kept beside
# the install, so an unchanged tree needs no rebuild.
SOURCES_STAMP="$ROOT/.venv/tamlor-sources.sha1"
# Everything but the tests, examples, benchmarks, scripts, pictures and docs counts.
sources_digest() {
    (
        cd "$ROOT"
        if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
            git ls-files -z --cached --others --exclude-standard -- . \
                ':!tests' ':!examples' ':!bench' ':!scripts' ':!.ci' ':!docs' ':!*.md'
        else
            find . -path ./.venv -prune -o -path ./build -prune -o -path ./tests -prune -o -path ./examples -prune \
                -o -path ./bench -prune -o -path ./scripts -prune -o -path ./docs -prune -o -type f ! -name '*.md' -print0
        fi | LC_ALL=C sort -z | xargs -0 -r sha1sum 2>/dev/null | sha1sum | cut -d' ' -f1
    )
}

# Builds and installs the module (CMake rebuilds only what changed), with one
# line per compiled file so that a long first build shows where it is.
install_tamlor() {
    local digest
    digest="$(sources_digest)"
    if ! python -m pip install -v --no-build-isolation \
        --config-settings=cmake.define.TAMLOR_WERROR=ON "$ROOT" 2>&1 | progress_lines; then
        echo "Building tamlor failed; the whole log is in build/install.log" >&2
        return 1
    fi
    echo "$digest" >"$SOURCES_STAMP"
}

# Passes on the build's progress ("[3/40] Building CXX object ...", shortened
# to the file), its warnings and errors, and what pip says went wrong; the
# rest of pip's verbose output is kept in build/install.log.
progress_lines() {
    mkdir -p "$ROOT/build"
    tee "$ROOT/build/install.log" | { grep --line-buffered -E \
        '^ *\[[0-9]+/[0-9]+\]|error|warning:|Successfully installed|ERROR' || true; } \
        | sed -u -E 's#^ *(\[[0-9]+/[0-9]+\]) ([A-Za-z]+)( CXX)? (object |shared module |static library |executable )?([^ ]*/)?([^ /]+)$#  \1 \2 \6#'
}

# Installs only when the sources changed since the last install, the module
# is not importable, or `force` is given.
install_tamlor_if_changed() {
    if [ "${1:-}" != force ] && [ -f "$SOURCES_STAMP" ] && [ "$(cat "$SOURCES_STAMP")" = "$(sources_digest)" ] \
        && python -c "import tamlor" 2>/dev/null; then
        return 0
    fi
    echo "Building and installing tamlor (the first build compiles every file: a minute or two)..."
    install_tamlor
}
