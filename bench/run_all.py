"""Runs every benchmark in this folder and prints their ratio tables. Exits
non-zero when a figure is over its limit."""
import pathlib
import runpy
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import common  # noqa: E402,F401  (holds NumPy's BLAS to one thread before anything imports it)

failures = []
for path in sorted(HERE.glob("bench_*.py")):
    module = runpy.run_path(str(path))
    failures += module["main"]() or []
    print()
if failures:
    print("over the limit:", ", ".join(failures))
sys.exit(1 if failures else 0)
