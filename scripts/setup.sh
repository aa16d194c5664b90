# Sourced by the other scripts: installs the system packages the build and
# tests need (when missing), then creates .venv with the Python tools and
# activates it. Safe to run again; it only installs what is missing.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

SYSTEM_PACKAGES=(g++ cmake ninja-build libgtest-dev libasound2)
missing=()
for pkg in "${SYSTEM_PACKAGES[@]}"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if ((${#missing[@]})); then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    echo "Installing system packages: ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if [ ! -x .venv/bin/python ]; then
    python3 -m venv .venv
fi
# shellcheck disable=SC1091
source .venv/bin/activate
python -m pip install -q --upgrade pip >/dev/null
python -m pip install -q "scikit-build-core>=0.10" pytest hypothesis

install_tamlor() {
    python -m pip install -q --no-build-isolation "$ROOT"
}
