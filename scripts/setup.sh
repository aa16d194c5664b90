# Sourced by the other scripts: installs the system packages the build and
# tests need (when missing), then creates .venv with the Python tools and
# activates it. Safe to run again; it only installs what is missing.
set -euo pipefail

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
# sox: the WAV tests check that written files open in it.
ensure_system_packages g++ cmake ninja-build libgtest-dev sox "$alsa_package"

if [ ! -x .venv/bin/python ]; then
    python3 -m venv .venv
fi
# shellcheck disable=SC1091
source .venv/bin/activate

# The Python tools, installed only when one of them is missing, so a second
# run does not wait on the package index.
TOOLS=("scikit-build-core>=0.10" pytest hypothesis numpy mypy pedalboard pyo)
if ! python - <<'PY' 2>/dev/null
import importlib.util, sys
sys.exit(any(importlib.util.find_spec(m) is None
             for m in ("scikit_build_core", "pytest", "hypothesis", "numpy", "mypy", "pedalboard", "pyo")))
PY
then
    python -m pip install -q --upgrade pip >/dev/null
    python -m pip install -q "${TOOLS[@]}"
fi

# The digest of everything the installed module is built from, kept beside
# the install, so an unchanged tree needs no rebuild.
SOURCES_STAMP="$ROOT/.venv/tamlor-sources.sha1"
# Everything but the tests, examples, benchmarks, scripts and docs counts.
sources_digest() {
    (
        cd "$ROOT"
        if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
            git ls-files -z --cached --others --exclude-standard -- . \
                ':!tests' ':!examples' ':!bench' ':!scripts' ':!.ci' ':!*.md'
        else
            find . -path ./.venv -prune -o -path ./build -prune -o -path ./tests -prune -o -path ./examples -prune \
                -o -path ./bench -prune -o -path ./scripts -prune -o -type f ! -name '*.md' -print0
        fi | LC_ALL=C sort -z | xargs -0 -r sha1sum 2>/dev/null | sha1sum | cut -d' ' -f1
    )
}

# Builds and installs the module (CMake rebuilds only what changed).
install_tamlor() {
    local digest
    digest="$(sources_digest)"
    python -m pip install -q --no-build-isolation \
        --config-settings=cmake.define.TAMLOR_WERROR=ON "$ROOT"
    echo "$digest" >"$SOURCES_STAMP"
}

# Installs only when the sources changed since the last install, the module
# is not importable, or `force` is given.
install_tamlor_if_changed() {
    if [ "${1:-}" != force ] && [ -f "$SOURCES_STAMP" ] && [ "$(cat "$SOURCES_STAMP")" = "$(sources_digest)" ] \
        && python -c "import tamlor" 2>/dev/null; then
        return 0
    fi
    echo "Building and installing tamlor..."
    install_tamlor
}
