#!/usr/bin/python3
"""Measures soft cuts against the hard cut with BSS Eval on the demo mix.

    tools/softcut/measure.py [--build DIR] [--seconds S] [--quality Q] [--area OPTIONS]
                             [--backing rest|invert] [--candidate OPTIONS]...

The demo mix (varnel-demomix) holds a centre voice and a backing of three other parts, each
also written on its own, so what a separation should give back is known. Every candidate
(the hard cut first, then the soft cut options given, by default the --soft preset) extracts
the voice with the same area; the removed-voice backing is the rest stem of the same export
(--backing rest, the default) or a second export of the area with --invert (--backing
invert: what removing the voice gives). BSS Eval (mir_eval's bss_eval_images, on both
channels) compares the voice with voice.wav and the backing with the mix less the voice. The
table gives SDR, SIR and SAR in dB for both, and each candidate's change of SAR and SDR against
the hard cut. A preset is good enough when it raises
both SARs by 0.5 dB or more and lowers neither SDR by more than 0.1 dB.

Needs python3-numpy, python3-scipy and python3-mir-eval (Debian packages).
"""

import argparse
import os
import shlex
import subprocess
import sys
import tempfile
import wave

import numpy as np
import mir_eval.separation


def read_wav(path):
    with wave.open(path, "rb") as w:
        assert w.getnchannels() == 2 and w.getsampwidth() == 2, path
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
    return data.reshape(-1, 2).astype(np.float64)


def export(cli, mix, area, options, quality, backing, out, rest):
    common = ["--quality", str(quality), "--force", "--quiet"] + area + options
    if backing == "invert":
        subprocess.run([cli, "export", mix, out] + common, check=True)
        subprocess.run([cli, "export", mix, rest, "--invert"] + common, check=True)
    else:
        subprocess.run([cli, "export", mix, out, "--rest", rest] + common, check=True)


def evaluate(references, estimates):
    sdr, _isr, sir, sar, _perm = mir_eval.separation.bss_eval_images(
        references, estimates, compute_permutation=False)
    return sdr, sir, sar


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(root, "build"),
                        help="build folder holding varnel-cli and varnel-demomix")
    parser.add_argument("--seconds", type=float, default=20.0, help="length of the demo mix")
    parser.add_argument("--quality", type=int, default=2)
    parser.add_argument("--area", default="--pan 0.5:2 --depth 0:0.8 --freq 80:max",
                        help="the area that extracts the voice")
    parser.add_argument("--backing", choices=["rest", "invert"], default="rest",
                        help="the backing: the rest stem, or an export with --invert")
    parser.add_argument("--candidate", action="append",
                        help="soft cut options to measure (default: --soft); give options "
                             "that start with a dash as --candidate=\"--soft --smooth 10\"")
    args = parser.parse_args()
    cli = os.path.join(args.build, "src", "cli", "varnel-cli")
    demomix = os.path.join(args.build, "tools", "demomix", "varnel-demomix")
    candidates = [""] + (args.candidate or ["--soft"])
    area = shlex.split(args.area)

    with tempfile.TemporaryDirectory(prefix="varnel-softcut-") as tmp:
        subprocess.run([demomix, tmp, "--seconds", str(args.seconds)], check=True,
                       stdout=subprocess.DEVNULL)
        mix = os.path.join(tmp, "mix.wav")
        voice = read_wav(os.path.join(tmp, "voice.wav"))
        backing = read_wav(mix) - voice
        references = np.stack([voice, backing])
        rows = []
        for options in candidates:
            kept, rest = os.path.join(tmp, "kept.wav"), os.path.join(tmp, "rest.wav")
            export(cli, mix, area, shlex.split(options), args.quality, args.backing, kept, rest)
            estimates = np.stack([read_wav(kept), read_wav(rest)])
            rows.append((options or "(hard cut)",) + evaluate(references, estimates))

    print(f"area: {args.area}   quality {args.quality}   {args.seconds:g} s of the demo mix   "
          f"backing: {args.backing}")
    print(f"{'options':44} {'voice SDR':>9} {'SIR':>6} {'SAR':>6}  {'backing SDR':>11} "
          f"{'SIR':>6} {'SAR':>6}  {'dSAR v/b':>11} {'dSDR v/b':>11}")
    hard = rows[0]
    ok = True
    for name, sdr, sir, sar in rows:
        d_sar = sar - hard[3]
        d_sdr = sdr - hard[1]
        line = (f"{name:44} {sdr[0]:9.2f} {sir[0]:6.2f} {sar[0]:6.2f}  {sdr[1]:11.2f} "
                f"{sir[1]:6.2f} {sar[1]:6.2f}  {d_sar[0]:+5.2f}/{d_sar[1]:+5.2f} "
                f"{d_sdr[0]:+5.2f}/{d_sdr[1]:+5.2f}")
        if name != hard[0]:
            good = bool(np.all(d_sar >= 0.5) and np.all(d_sdr >= -0.1))
            ok = ok and good
            line += "  good" if good else "  not good enough"
        print(line)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
