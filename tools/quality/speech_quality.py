#!/usr/bin/python3
"""Objective measures of decoded speech against its original, for tuning by measure as well as by ear.

    speech_quality.py [--delay N] ORIGINAL DECODED [ORIGINAL DECODED ...]

Files are raw 16-bit little-endian PCM at 8 kHz, mono. Each pair gets one line; several pairs also get their
mean. Printed:

- distortion: a perceptual distortion of our own in the manner of the loudness-based measures; 0 for
  identical signals, lower is better. Both signals are aligned (the delay that maximises their
  cross-correlation), set to the same active speech level, weighted by a telephone receive band, analysed
  in 32 ms frames into half-Bark bands and turned into specific loudness (Zwicker's law, exponent 0.23,
  above the threshold of hearing). The original is equalised to the decoded speech's long-term band
  response (within +-20 dB) and each decoded frame to the original's level (smoothed), as listeners
  forgive a fixed colouring and slow level changes. Loudness differences smaller than a quarter of the
  quieter loudness are masked; what remains gives the symmetric disturbance D (an L3 norm over bands) and
  the asymmetric one A, in which only energy the original does not have counts (noise in spectral valleys,
  buzz, clicks), as it is heard more than energy missing. Both are pooled over 320 ms stretches (L6, so the
  worst moments weigh most) and over the file (L2): distortion = 0.1 D + 0.031 A. Only differences between
  coders on the same speech mean anything; it is no standard measure and no listening-test score.
- LSD: log-spectral distance (dB) in half-Bark bands over active frames, without equalisation: it shows a
  muffled or over-bright output that the distortion forgives.
- segSNR: segmental SNR (dB) over active 30 ms frames, each within -10..35 dB. A postfilter trades
  waveform match for clarity, so this falls when it works; it is for reference.
- delay (samples) and level (dB, decoded minus original over active speech).
"""
import argparse
import sys

import numpy as np

RATE = 8000
FRAME = 256  # 32 ms
HOP = 128
SPEECH_RMS = 32768 * 10 ** (-26 / 20)  # active speech level both signals are set to (-26 dB full scale)
SPL_AT_SPEECH_RMS = 79.0  # listening level the normalised speech stands for, dB SPL
MAX_DELAY = 1600  # samples searched either way when aligning
ACTIVE_RANGE_DB = 40.0  # frames within this of the loudest are active speech


def read_raw(path):
    return np.fromfile(path, dtype="<i2").astype(np.float64)


def bark(f):
    return 13.0 * np.arctan(0.00076 * f) + 3.5 * np.arctan((f / 7500.0) ** 2)


def align(ref, deg, delay=None):
    """deg shifted so that its sample n matches ref's sample n; the delay found (deg lagging ref > 0)."""
    if delay is None:
        n = 1 << int(np.ceil(np.log2(len(ref) + len(deg))))
        xc = np.fft.irfft(np.fft.rfft(deg, n) * np.conj(np.fft.rfft(ref, n)), n)
        lags = np.concatenate([np.arange(0, MAX_DELAY + 1), np.arange(-MAX_DELAY, 0)])
        values = np.concatenate([xc[:MAX_DELAY + 1], xc[-MAX_DELAY:]])
        delay = int(lags[np.argmax(values)])
    if delay >= 0:
        deg = deg[delay:]
    else:
        deg = np.concatenate([np.zeros(-delay), deg])
    n = min(len(ref), len(deg))
    return ref[:n], deg[:n], delay


def frame_powers(x):
    """Mean-square power of each 32 ms frame."""
    n = (len(x) - FRAME) // HOP + 1
    return np.array([np.mean(x[i * HOP:i * HOP + FRAME] ** 2) for i in range(n)])


def active_level(x, active):
    return np.sqrt(np.mean(frame_powers(x)[active])) if active.any() else 1.0


class Bands:
    """Half-Bark bands of the FFT bins from 100 Hz to 3700 Hz, and the receive weighting."""

    def __init__(self):
        freqs = np.fft.rfftfreq(FRAME, 1.0 / RATE)
        z = bark(freqs)
        edges = np.arange(bark(100.0), bark(3700.0) + 1e-9, 0.5)
        rows, centres, widths = [], [], []
        for lo, hi in zip(edges[:-1], edges[1:]):
            sel = (z >= lo) & (z < hi)
            if not sel.any():
                continue
            rows.append(sel.astype(float))
            centres.append(freqs[sel].mean())
            widths.append(hi - lo)
        self.matrix = np.array(rows)
        self.centre = np.array(centres)
        self.width = np.array(widths)
        # A telephone handset's receive band: flat from 300 to 3100 Hz, 12 dB per octave below, steeper above.
        f = np.maximum(freqs, 1.0)
        gain_db = np.where(f < 300, 40 * np.log10(f / 300), 0.0) + np.where(f > 3100, -60 * np.log10(f / 3100), 0.0)
        self.receive = 10 ** (gain_db / 10)
        khz = self.centre / 1000
        threshold_db = 3.64 * khz ** -0.8 - 6.5 * np.exp(-0.6 * (khz - 3.3) ** 2) + 1e-3 * khz ** 4
        self.threshold = 10 ** (threshold_db / 10)  # threshold of hearing in each band, SPL power

    def powers(self, x):
        """Band powers of each frame, in SPL power units for speech at SPEECH_RMS."""
        window = np.hanning(FRAME)
        n = (len(x) - FRAME) // HOP + 1
        frames = np.stack([x[i * HOP:i * HOP + FRAME] * window for i in range(n)])
        spectrum = np.abs(np.fft.rfft(frames, axis=1)) ** 2 * self.receive
        spectrum *= 2.0 / (FRAME * np.sum(window ** 2))  # Parseval: bin powers add up to the frame's mean square
        calibration = 10 ** (SPL_AT_SPEECH_RMS / 10) / SPEECH_RMS ** 2
        return spectrum @ self.matrix.T * calibration

    def loudness(self, p):
        """Zwicker specific loudness of band powers, zero below the threshold of hearing."""
        p0 = self.threshold
        n = (p0 / 0.5) ** 0.23 * ((0.5 + 0.5 * p / p0) ** 0.23 - 1.0)
        return np.maximum(n, 0.0)


def lp_pool(values, p, size):
    """Lp norm over stretches of `size` frames (half-overlapping), one value per stretch."""
    if len(values) <= size:
        return np.array([np.mean(values ** p) ** (1 / p)])
    return np.array([np.mean(values[i:i + size] ** p) ** (1 / p) for i in range(0, len(values) - size + 1, size // 2)])


def measures(ref, deg, delay=None):
    ref, deg, delay = align(ref, deg, delay)
    power = frame_powers(ref)
    active = 10 * np.log10(power + 1e-3) > 10 * np.log10(power.max() + 1e-3) - ACTIVE_RANGE_DB
    ref_level, deg_level = active_level(ref, active), active_level(deg, active)
    level_db = 20 * np.log10(max(deg_level, 1e-9) / ref_level)
    ref = ref * SPEECH_RMS / ref_level
    deg = deg * SPEECH_RMS / max(deg_level, 1e-9)

    bands = Bands()
    pr, pd = bands.powers(ref), bands.powers(deg)
    lsd = np.sqrt(np.mean((10 * np.log10((pd + bands.threshold) / (pr + bands.threshold))) ** 2, axis=1))[active].mean()

    # Equalise the original to the decoded speech's long-term response, within +-20 dB.
    audible = active[:, None] & (pr > 100 * bands.threshold)
    sum_r = np.where(audible, pr, 0).sum(axis=0) + 1e-9
    sum_d = np.where(audible, pd, 0).sum(axis=0) + 1e-9
    pr = pr * np.clip(sum_d / sum_r, 0.01, 100.0)
    # Slow level changes of the decoded speech are forgiven: each frame is set to the original's audible
    # power, through a smoothed ratio within -35..+7 dB.
    audible_r = np.where(pr > bands.threshold, pr, 0).sum(axis=1)
    audible_d = np.where(pd > bands.threshold, pd, 0).sum(axis=1)
    ratio = (audible_d + 5e3) / (audible_r + 5e3)
    smoothed = np.empty_like(ratio)
    s = 1.0
    for i, r in enumerate(ratio):
        s = 0.8 * s + 0.2 * r
        smoothed[i] = s
    pd = pd / np.clip(smoothed, 3e-4, 5.0)[:, None]

    nr, nd = bands.loudness(pr), bands.loudness(pd)
    diff = nd - nr
    mask = 0.25 * np.minimum(nr, nd)
    disturbance = np.sign(diff) * np.maximum(np.abs(diff) - mask, 0.0)
    asym = ((pd + 50.0) / (pr + 50.0)) ** 1.2
    asym = np.where(asym < 3.0, 0.0, np.minimum(asym, 12.0))
    w = bands.width / bands.width.sum()
    frame_d = (np.abs(disturbance) ** 3 @ w) ** (1 / 3)
    frame_a = np.abs(disturbance * asym) @ w
    # Frames of the original's silence count too (noise added there is heard), those far below speech not.
    keep = 10 * np.log10(power + 1e-3) > 10 * np.log10(power.max() + 1e-3) - 60.0
    d = np.sqrt(np.mean(lp_pool(frame_d[keep], 6, 20) ** 2))
    a = np.sqrt(np.mean(lp_pool(frame_a[keep], 6, 20) ** 2))
    distortion = 0.1 * d + 0.031 * a

    seg = []
    for i in range(0, len(ref) - 240, 240):
        e = np.sum(ref[i:i + 240] ** 2)
        if 10 * np.log10(e / 240 + 1e-9) < 10 * np.log10(power.max() + 1e-3) - ACTIVE_RANGE_DB:
            continue
        err = np.sum((ref[i:i + 240] - deg[i:i + 240]) ** 2)
        seg.append(np.clip(10 * np.log10(e / max(err, 1e-9)), -10, 35))
    return {"distortion": distortion, "D": d, "A": a, "LSD": lsd, "segSNR": float(np.mean(seg)) if seg else float("nan"),
            "delay": delay, "level": level_db}


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("files", nargs="+", help="pairs: ORIGINAL DECODED ...")
    p.add_argument("--delay", type=int, default=None, help="samples the decoded speech lags (found when not given)")
    a = p.parse_args()
    if len(a.files) % 2 != 0:
        p.error("give the files in pairs: ORIGINAL DECODED")
    rows = []
    for ref_path, deg_path in zip(a.files[0::2], a.files[1::2]):
        ref, deg = read_raw(ref_path), read_raw(deg_path)
        if len(ref) < 4 * FRAME or len(deg) < 4 * FRAME:
            print(f"{deg_path}: too short to measure", file=sys.stderr)
            return 1
        m = measures(ref, deg, a.delay)
        rows.append(m)
        print(f"{deg_path}: distortion {m['distortion']:.3f}  (D {m['D']:.2f}, A {m['A']:.2f})  LSD {m['LSD']:.2f} dB  "
              f"segSNR {m['segSNR']:.2f} dB  delay {m['delay']}  level {m['level']:+.2f} dB")
    if len(rows) > 1:
        mean = {k: np.mean([r[k] for r in rows]) for k in ("distortion", "D", "A", "LSD", "segSNR")}
        print(f"mean of {len(rows)}: distortion {mean['distortion']:.3f}  (D {mean['D']:.2f}, A {mean['A']:.2f})  "
              f"LSD {mean['LSD']:.2f} dB  segSNR {mean['segSNR']:.2f} dB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
