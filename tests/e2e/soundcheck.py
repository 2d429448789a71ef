"""What a recording of the shake rattle shows, measured against shake.wav.

A recording is 16-bit stereo at the device rate. The reference is the
built-in sample brought to that rate, either exactly as the program's own
mixer does it (nearest sample, 32.32 fixed-point step) or band-limited, as a
system mixer with a resampling filter comes close to. `find_voices` finds
where each play of the rattle starts; `fit` measures each play's gain by
least squares against the aligned reference, over the frames where the sum
stays inside the 16-bit range.
"""
import os
import wave

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
SHAKE_WAV = os.path.join(HERE, "..", "..", "assets", "files", "shake.wav")
FULL_SCALE = 32767


class Rattle:
    """shake.wav: its samples (mono, as float), its rate, its audible part."""

    def __init__(self, path=SHAKE_WAV):
        with wave.open(path) as w:
            if (w.getnchannels(), w.getsampwidth()) != (1, 2):
                raise ValueError("shake.wav is expected as 16-bit mono")
            self.rate = w.getframerate()
            self.samples = np.frombuffer(w.readframes(w.getnframes()), "<i2").astype(np.float64)
        loud = np.nonzero(self.samples)[0]
        self.first, self.last = int(loud[0]), int(loud[-1])

    @property
    def seconds(self):
        return len(self.samples) / self.rate

    def nearest(self, rate):
        """At `rate` exactly as the program's mixer plays it: output frame i
        takes sample frame (i * step) >> 32, step = (rate_in << 32) / rate."""
        step = (self.rate << 32) // rate
        n = ((len(self.samples) << 32) + step - 1) // step
        index = (np.arange(n, dtype=np.uint64) * np.uint64(step)) >> np.uint64(32)
        return self.samples[index.astype(np.int64)]

    def band_limited(self, rate, cutoff=None):
        """At `rate` through an ideal low-pass resampler (FFT), keeping only
        what lies below `cutoff` Hz when one is given."""
        n = int(round(len(self.samples) * rate / self.rate))
        return low_pass(self.samples, self.rate, cutoff, n) * (n / len(self.samples))


def low_pass(signal, rate, cutoff, n=None):
    """`signal` without what lies above `cutoff` Hz (ideal filter, FFT),
    stretched to `n` frames when one is given."""
    n = len(signal) if n is None else n
    spectrum = np.fft.rfft(np.asarray(signal, dtype=np.float64))
    keep = len(spectrum) if cutoff is None else int(cutoff * len(signal) / rate) + 1
    out = np.zeros(n // 2 + 1, dtype=complex)
    k = min(keep, len(spectrum), len(out))
    out[:k] = spectrum[:k]
    return np.fft.irfft(out, n)


def _correlate(signal, ref):
    """Cross-correlation c[o] = sum_i signal[o + i] * ref[i], o >= 0."""
    n = len(signal) + len(ref)
    size = 1 << (n - 1).bit_length()
    c = np.fft.irfft(np.fft.rfft(signal, size) * np.conj(np.fft.rfft(ref, size)), size)
    return c[:len(signal)]


def placed(ref, onset, length):
    """`ref` starting at frame `onset` of a signal of `length` frames."""
    out = np.zeros(length)
    lo, hi = max(onset, 0), min(onset + len(ref), length)
    if hi > lo:
        out[lo:hi] = ref[lo - onset:hi - onset]
    return out


def find_voices(mono, ref, count, spacing, rounds=3):
    """Onsets of `count` plays of `ref` in `mono`, at least `spacing` frames
    apart. First the best match of the reference is taken out, then the next
    one; then each onset is moved to where the reference best matches what
    the other plays leave, until none moves. Frames at either end of the
    16-bit range, where a sum was cut off, count for nothing."""
    signal = mono.astype(np.float64) * (np.abs(mono) < FULL_SCALE)
    energy = float(ref @ ref)
    residual = signal.copy()
    onsets = []
    for _ in range(count):
        c = _correlate(residual, ref)
        for o in onsets:
            c[max(o - spacing, 0):o + spacing] = 0
        o = int(np.argmax(c))
        if c[o] <= 0:
            break
        onsets.append(o)
        residual -= placed(ref, o, len(residual)) * (c[o] / energy)
    for _ in range(rounds):
        moved = False
        for i in range(len(onsets)):
            others = signal - sum((placed(ref, o, len(signal)) for j, o in enumerate(onsets) if j != i),
                                  np.zeros(len(signal)))
            c = _correlate(others, ref)
            lo = max(onsets[i] - len(ref) // 8, 0)
            best = lo + int(np.argmax(c[lo:onsets[i] + len(ref) // 8]))
            moved |= best != onsets[i]
            onsets[i] = best
        if not moved:
            break
    return sorted(onsets)


class Fit:
    """Least-squares gains of the plays at `onsets` in one channel."""

    def __init__(self, channel, ref, onsets, where=None):
        channel = channel.astype(np.float64)
        self.onsets = list(onsets)
        basis = np.stack([placed(ref, o, len(channel)) for o in self.onsets], axis=1)
        # Where the recording sits at either end of the range, the sum was
        # cut off there: those frames say nothing about the gains. Only the
        # frames `where` is true count, when it is given.
        inside = (channel < FULL_SCALE) & (channel > -FULL_SCALE - 1)
        if where is not None:
            inside &= where
        self.gains, *_ = np.linalg.lstsq(basis[inside], channel[inside], rcond=None)
        self.model = basis @ self.gains
        played = inside & (self.model != 0)
        error = channel[played] - self.model[played]
        # Misfit: what the gains leave unexplained, relative to what they explain.
        self.misfit = float(np.sqrt((error @ error) / max(self.model[played] @ self.model[played], 1e-9)))
        self.basis = basis

    def correlation(self, channel):
        """Correlation coefficient of the channel with the fitted plays."""
        a = channel.astype(np.float64)
        span = self.model != 0
        return float(np.corrcoef(a[span], self.model[span])[0, 1])


def rate_factor(mono, rattle, rate, onset, factors=np.arange(0.90, 1.1001, 0.0025)):
    """The playback rate relative to the sample's own: the factor whose
    resampled reference matches the play at `onset` (alone in `mono`) best."""
    pad = rate // 10
    lo = max(onset - pad, 0)
    seg = mono[lo:onset + int(len(rattle.samples) * rate / rattle.rate * 1.15) + pad].astype(np.float64)
    best, best_score = None, -1.0
    for f in factors:
        ref = rattle.band_limited(int(round(rate / f)))
        score = float(np.max(_correlate(seg, ref))) / np.sqrt((ref @ ref) * (seg @ seg) + 1e-9)
        if score > best_score:
            best, best_score = float(f), score
    return best, best_score


def sound_span(mono, rate, threshold=1):
    """Seconds from the first to the last frame whose level reaches `threshold`."""
    loud = np.nonzero(np.abs(mono) >= threshold)[0]
    return 0.0 if len(loud) == 0 else (loud[-1] - loud[0] + 1) / rate


def windows(channel, ref, onset, width, search):
    """The play at `onset`, window by window of `width` frames: each window
    of the reference is matched where it fits best within `search` frames of
    its place (a system mixer may drop or repeat a few frames). Returns, for
    the windows where the reference is not silent, arrays of the window's
    first frame (from the onset), correlation, least-squares gain and shift."""
    channel = np.asarray(channel, dtype=np.float64)
    starts, corrs, gains, shifts = [], [], [], []
    for start in range(0, len(ref) - width + 1, width):
        piece = ref[start:start + width]
        energy = float(piece @ piece)
        lo = onset + start - search
        if energy < 1 or lo < 0 or onset + start + width + search > len(channel):
            continue
        seg = channel[lo:onset + start + width + search]
        c = _correlate(seg, piece)[:2 * search + 1]
        power = np.cumsum(np.concatenate([[0.0], seg * seg]))
        local = power[width:width + 2 * search + 1] - power[:2 * search + 1]
        score = c / np.sqrt(local * energy + 1e-9)
        best = int(np.argmax(score))
        starts.append(start)
        corrs.append(float(score[best]))
        gains.append(float(c[best] / energy))
        shifts.append(best - search)
    return np.array(starts), np.array(corrs), np.array(gains), np.array(shifts)


class Level:
    """The play at `onset`, over its windows between `after` and `before`
    frames into it where the reference is loud (at least a tenth of its
    loudest window's energy): `gain`, the median of their gains; `misfit`,
    the median of what each window's gain leaves unexplained, relative to
    what it explains; `matching`, the share of windows that match the
    rattle (correlation at least 0.9); `start_shift`, how many frames
    after the onset the first loud window matches best."""

    def __init__(self, channel, ref, onset, after=0, before=None, width=2205, search=2205):
        starts, corrs, gains, shifts = windows(channel, ref, onset, width, search)
        energy = np.array([float(ref[s:s + width] @ ref[s:s + width]) for s in starts])
        loud = (energy >= 0.1 * energy.max()) & (starts >= after) & (starts + width <= (before or len(ref)))
        self.start_shift = int(shifts[loud][0])
        corrs = np.clip(corrs[loud], 1e-6, 1)
        self.gain = float(np.median(gains[loud]))
        self.misfit = float(np.median(np.sqrt(1 - corrs ** 2) / corrs))
        self.matching = float(np.mean(corrs >= 0.9))
