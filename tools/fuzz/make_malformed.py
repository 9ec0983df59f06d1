#!/usr/bin/env python3
"""Writes the malformed WAV files that the reader tests and the fuzzer's seed corpus use.

Run once from the repository root; the files are committed under tests/data/malformed/.
Each file is small and holds a few frames of a ramp so that reads can be checked.
"""
import os
import struct
import sys

OUT = sys.argv[1] if len(sys.argv) > 1 else "tests/data/malformed"


def chunk(cid, body, size=None, pad=True):
    declared = len(body) if size is None else size
    b = cid + struct.pack("<I", declared) + body
    if pad and len(body) % 2:
        b += b"\0"
    return b


def fmt(tag=1, channels=2, rate=44100, bits=16, align=None, avg=None, extra=b""):
    if align is None:
        align = channels * bits // 8
    if avg is None:
        avg = (rate * align) & 0xFFFFFFFF
    return struct.pack("<HHIIHH", tag, channels, rate, avg, align, bits) + extra


def samples(frames):
    return b"".join(struct.pack("<hh", 100 * i, -100 * i) for i in range(frames))


def riff(body, size=None, form=b"WAVE"):
    inner = form + body
    return b"RIFF" + struct.pack("<I", len(inner) if size is None else size) + inner


FILES = {}
good_fmt = chunk(b"fmt ", fmt())
data8 = chunk(b"data", samples(8))

FILES["empty-file.wav"] = b""
FILES["riff-header-cut.wav"] = b"RIFF\x10"
FILES["riff-without-form.wav"] = b"RIFF\x00\x00\x00\x00"
FILES["not-riff.wav"] = b"This is not a sound file at all, only words.\n"
FILES["riff-other-form.wav"] = riff(good_fmt + data8, form=b"AVI ")
FILES["fmt-header-cut.wav"] = riff(b"fmt \x10\x00")[:20]
FILES["fmt-body-cut.wav"] = (riff(good_fmt + data8))[:28]
FILES["fmt-14-bytes.wav"] = riff(chunk(b"fmt ", fmt()[:14]) + data8)
FILES["fmt-40-bytes.wav"] = riff(chunk(b"fmt ", fmt(extra=struct.pack("<H", 22) + bytes(22))) + data8)
FILES["fmt-size-huge.wav"] = riff(chunk(b"fmt ", fmt(), size=0xFFFFFFF0) + data8)
FILES["no-fmt.wav"] = riff(data8)
FILES["no-data.wav"] = riff(good_fmt)
FILES["data-before-fmt.wav"] = riff(data8 + good_fmt)
FILES["riff-size-small.wav"] = riff(good_fmt + data8, size=4)
FILES["riff-size-huge.wav"] = riff(good_fmt + data8, size=0xFFFFFFFF)
FILES["data-size-past-end.wav"] = riff(good_fmt + chunk(b"data", samples(8), size=32 + 1000))
FILES["data-size-ffffffff.wav"] = riff(good_fmt + chunk(b"data", samples(8), size=0xFFFFFFFF))
FILES["data-cut-mid-frame.wav"] = riff(good_fmt + chunk(b"data", samples(8)))[:-2]
FILES["data-size-odd.wav"] = riff(good_fmt + chunk(b"data", samples(8) + b"\x07", pad=True))
FILES["data-empty.wav"] = riff(good_fmt + chunk(b"data", b""))
FILES["list-size-past-end.wav"] = riff(good_fmt + chunk(b"LIST", b"INFOabcd", size=0x7FFFFFF0) + data8)
FILES["list-odd-padded.wav"] = riff(good_fmt + chunk(b"LIST", b"INFOa", pad=True) + data8)
FILES["list-odd-unpadded.wav"] = riff(good_fmt + chunk(b"LIST", b"INFOa", pad=False) + data8)
FILES["list-after-data.wav"] = riff(good_fmt + data8 + chunk(b"LIST", b"INFOISFT\x06\x00\x00\x00tools\x00"))
FILES["many-small-chunks.wav"] = riff(good_fmt + b"".join(chunk(b"JUNK", b"") for _ in range(3000)) + data8)
FILES["junk-before-riff.wav"] = chunk(b"JUNK", b"abcd") + riff(good_fmt + data8)
FILES["block-align-zero.wav"] = riff(chunk(b"fmt ", fmt(align=0)) + data8)
FILES["block-align-8.wav"] = riff(chunk(b"fmt ", fmt(align=8)) + data8)
FILES["rate-zero.wav"] = riff(chunk(b"fmt ", fmt(rate=0)) + data8)
FILES["rate-80.wav"] = riff(chunk(b"fmt ", fmt(rate=80)) + data8)
FILES["rate-huge.wav"] = riff(chunk(b"fmt ", fmt(rate=0xFFFFFFFF)) + data8)
FILES["bits-8.wav"] = riff(chunk(b"fmt ", fmt(bits=8)) + data8)
FILES["bits-24.wav"] = riff(chunk(b"fmt ", fmt(bits=24)) + chunk(b"data", samples(6)))
FILES["mono.wav"] = riff(chunk(b"fmt ", fmt(channels=1)) + data8)
FILES["six-channels.wav"] = riff(chunk(b"fmt ", fmt(channels=6)) + chunk(b"data", samples(12)))
FILES["float.wav"] = riff(chunk(b"fmt ", fmt(tag=3, bits=32)) + data8)
ext = struct.pack("<HHI", 22, 16, 3) + b"\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71"
FILES["extensible.wav"] = riff(chunk(b"fmt ", fmt(tag=0xFFFE, extra=ext)) + data8)

os.makedirs(OUT, exist_ok=True)
for name, content in sorted(FILES.items()):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(content)
print(f"{len(FILES)} files in {OUT}")
