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
python -m pip install -q --upgrade pip >/dev/null
python -m pip install -q "scikit-build-core>=0.10" pytest hypothesis numpy

install_tamlor() {
    python -m pip install -q --no-build-isolation \
        --config-settings=cmake.define.TAMLOR_WERROR=ON "$ROOT"
}
