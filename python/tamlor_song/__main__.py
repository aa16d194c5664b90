"""``python -m tamlor_song render IN.mid ... -o OUT``: see `tamlor_song.cli`."""
import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
