"""The tamlor demo: drives a TransportClock through blocks of 512 frames at
44100 Hz, the way an audio loop would, and prints the beat range each block
covers."""
import tamlor

BLOCK = 512
RATE = 44100


def main():
    clock = tamlor.TransportClock(bpm=120.0)
    print(clock)
    clock.play()
    for block in range(8):
        start, end = clock.advance_by_frames(BLOCK, RATE)
        print(f"block {block}: beats {start:.6f} .. {end:.6f}")
    clock.pause()
    print(clock)


if __name__ == "__main__":
    main()
