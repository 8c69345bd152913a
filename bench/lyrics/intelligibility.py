#!/usr/bin/python3
"""How well is the voice understood? A speech recogniser chooses each word.

Renders the words of words.txt through cantilena-tool, sung (one note a
syllable, the last held) and spoken (one note), once with the hand spellings
of words.txt and once with the phonetic text `cantilena-tool lyrics` writes,
and has espeak-ng speak the same words. Each text is rendered in several takes,
each started a little later, since the voice's oscillators and vibrato run on
from note to note and meet each take at another phase. Every clip is cut out, peak-normalised
to -3 dBFS, padded with silence and given a -54 dBFS noise floor (the
recogniser fails on digital silence); each clip is prepared with several
paddings and noise seeds and the scores are averaged, since one preparation
flips a word or two. pocketsphinx (en-us model) then picks each clip's word
from a grammar of all the words: forced choice, chance is 1 in the number of
words.

    bench/lyrics/intelligibility.py [--tool build/tools/cantilena-tool] [--verbose] [--phones]

--phones also decodes each clip phone by phone, without the word list, to
show what the recogniser makes of each part of a word.

The options change the setup for experiments (patch, speed, notes, takes,
alternative texts); bench/lyrics/results.md records every one made.

Needs the Debian packages pocketsphinx-en-us, python3-pocketsphinx, espeak-ng
and sox.
"""
import argparse
import audioop
import itertools
import os
import random
import struct
import subprocess
import sys
import tempfile
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 16000
SAMPLE_MAX = 32767
PEAK_DB = -3.0
NOISE_DB = -54.0           # RMS of the noise floor, dBFS
PADDINGS = (0.15, 0.35, 0.6)  # seconds of silence before and after
SEEDS = (1, 2)
TICKS_PER_SECOND = 960     # 480 ticks a quarter at 120 quarters a minute
SLOT_SECONDS = 3.0         # one word per slot
SELECT_LEAD = 0.05         # the text is selected this long before the first note
# Sung as in a song at 100 quarter notes a minute: a syllable an eighth note,
# the last one held a quarter, at the voice's lowest note in the embedded
# song. Between notes, time for the 12 speech steps of consonants the writer
# leaves after a note (0.104 s at the default speed).
SYLLABLE_NOTE = 0.30       # seconds
BREATH = 0.12
LAST_NOTE = 0.60
SPOKEN_NOTE = 1.60         # longer than any word spoken
SUNG_KEY = 69              # 220 Hz
SPOKEN_KEY = 60            # 131 Hz, a speaking pitch
RELEASE_TAIL = 0.45        # seconds kept after the last note-off
VOICE_CHANNEL = 15
FIRST_NOTE = 0.3           # seconds into a slot
TAKES = 3                  # renders a text, each started TAKE_SHIFT later in its slot
TAKE_SHIFT = 0.173         # so that the oscillators and the vibrato meet it at another phase
TRIM_DB = None
TRIM_MARGIN = 0.02
SPEED_BASE = 63            # controller 4 at 63 + n: n ticks a speech step


def read_words():
    words = []
    for line in open(os.path.join(HERE, "words.txt")):
        line = line.split("#")[0].strip()
        if line:
            word, spelling = line.split()
            words.append((word, spelling))
    return words


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, (value & 0x7F) | 0x80)
        value >>= 7
    return bytes(out)


def midi_file(events):
    """A format 0 file at 120 quarters a minute; events: (seconds, bytes)."""
    body = b""
    tick = 0
    for seconds, data in sorted(events, key=lambda e: e[0]):
        t = round(seconds * TICKS_PER_SECOND)
        body += vlq(t - tick) + data
        tick = t
    body += b"\x00\xff\x2f\x00"
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480) + b"MTrk" + struct.pack(">I", len(body)) + body


def yaml_quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def render(tool, texts, spoken, workdir, name, setup, take):
    """Renders one text per slot; returns each text's clip, 16 kHz mono."""
    events = [(0.0, bytes([0xB0 | VOICE_CHANNEL, 4, SPEED_BASE + setup.speed])),
              (0.0, bytes([0xB0 | VOICE_CHANNEL, 5, setup.formants]))]
    windows = []
    for i, text in enumerate(texts):
        start = i * SLOT_SECONDS + FIRST_NOTE + take * TAKE_SHIFT
        events.append((start - SELECT_LEAD, bytes([0xB0 | VOICE_CHANNEL, 4, i])))
        if spoken:
            notes = [(start, setup.spoken_note, setup.spoken_key)]
        else:
            count = max(1, text.count("!"))
            notes = []
            t = start
            for n in range(count):
                length = setup.last_note if n == count - 1 else setup.syllable_note
                notes.append((t, length, setup.sung_key))
                t += length + setup.breath
        for on, length, key in notes:
            events.append((on, bytes([0x90 | VOICE_CHANNEL, key, 100])))
            events.append((on + length, bytes([0x80 | VOICE_CHANNEL, key, 0])))
        end = notes[-1][0] + notes[-1][1] + RELEASE_TAIL
        windows.append((start - 0.05, end))
    with open(os.path.join(workdir, name + ".mid"), "wb") as f:
        f.write(midi_file(events))
    with open(os.path.join(workdir, name + ".yaml"), "w") as f:
        f.write("midi: %s.mid\npatches:\n  0: %s\nglobals:\n  reverb: {level: 0}\n  delay: {mix: 64}\n"
                "speech:\n" % (name, os.path.abspath(setup.patch)))
        for text in texts:
            f.write("  - %s\n" % yaml_quote(text))
    image = os.path.join(workdir, name + ".img")
    wav = os.path.join(workdir, name + ".wav")
    subprocess.run([tool, "compile", "-q", os.path.join(workdir, name + ".yaml"), "-o", image], check=True)
    seconds = len(texts) * SLOT_SECONDS + 1
    subprocess.run([tool, "render", image, "-o", wav, "--seconds", str(seconds), "--seed", "1"], check=True)
    samples = to_mono_16k(wav, workdir)
    return [samples[int(a * RATE) * 2:int(b * RATE) * 2] for a, b in windows]


def to_mono_16k(path, workdir):
    out = os.path.join(workdir, "mono16k.wav")
    subprocess.run(["sox", path, "-r", str(RATE), "-c", "1", "-b", "16", out, "remix", "1"], check=True)
    with wave.open(out) as w:
        return w.readframes(w.getnframes())


def espeak_clips(words, workdir):
    clips = []
    for word, _ in words:
        wav = os.path.join(workdir, "espeak.wav")
        subprocess.run(["espeak-ng", "-v", "en-us", "-w", wav, word], check=True)
        clips.append(to_mono_16k(wav, workdir))
    return clips


class Noise:
    def __init__(self):
        self.cache = {}

    def floor(self, seed, frames):
        buffer = self.cache.get(seed, b"")
        if len(buffer) < 2 * frames:
            rng = random.Random(seed)
            sigma = SAMPLE_MAX * 10 ** (NOISE_DB / 20)
            values = [max(-SAMPLE_MAX, min(SAMPLE_MAX, round(rng.gauss(0, sigma)))) for _ in range(frames + RATE)]
            buffer = struct.pack("<%dh" % len(values), *values)
            self.cache[seed] = buffer
        return buffer[:2 * frames]


def trim(clip, floor_db):
    """The clip from its first to its last sample within floor_db of its peak."""
    samples = struct.unpack("<%dh" % (len(clip) // 2), clip)
    peak = max(abs(v) for v in samples)
    if peak == 0:
        return clip
    level = peak * 10 ** (floor_db / 20)
    loud = [i for i, v in enumerate(samples) if abs(v) > level]
    first = max(0, loud[0] - int(TRIM_MARGIN * RATE))
    last = min(len(samples), loud[-1] + int(TRIM_MARGIN * RATE))
    return clip[2 * first:2 * last]


def prepare(clip, padding, seed, noise):
    if TRIM_DB is not None:
        clip = trim(clip, TRIM_DB)
    peak = audioop.max(clip, 2)
    if peak > 0:
        clip = audioop.mul(clip, 2, SAMPLE_MAX * 10 ** (PEAK_DB / 20) / peak)
    pad = b"\0\0" * int(padding * RATE)
    clip = pad + clip + pad
    return audioop.add(clip, noise.floor(seed, len(clip) // 2), 2)


class Recogniser:
    def __init__(self, words):
        from pocketsphinx import pocketsphinx as ps
        model = "/usr/share/pocketsphinx/model/en-us"
        config = ps.Decoder.default_config()
        config.set_string("-hmm", os.path.join(model, "en-us"))
        config.set_string("-dict", os.path.join(model, "cmudict-en-us.dict"))
        config.set_string("-logfn", os.devnull)
        self.decoder = ps.Decoder(config)
        grammar = "#JSGF V1.0;\ngrammar words;\npublic <word> = %s;\n" % " | ".join(w for w, _ in words)
        self.decoder.set_jsgf_string("words", grammar)
        self.decoder.set_search("words")

    def word(self, samples):
        self.decoder.start_utt()
        self.decoder.process_raw(samples, False, True)
        self.decoder.end_utt()
        hyp = self.decoder.hyp()
        return hyp.hypstr.strip() if hyp else ""


class PhoneReader:
    """What the recogniser hears phone by phone, free of the word list: each
    phone with its length in 10 ms frames. A held vowel it takes for noise
    shows as +SPN+ or +NSN+."""

    def __init__(self):
        from pocketsphinx import pocketsphinx as ps
        model = "/usr/share/pocketsphinx/model/en-us"
        config = ps.Decoder.default_config()
        config.set_string("-hmm", os.path.join(model, "en-us"))
        config.set_string("-allphone", os.path.join(model, "en-us-phone.lm.bin"))
        config.set_float("-lw", 2.0)
        config.set_string("-logfn", os.devnull)
        self.decoder = ps.Decoder(config)

    def phones(self, samples):
        self.decoder.start_utt()
        self.decoder.process_raw(samples, False, True)
        self.decoder.end_utt()
        return " ".join("%s:%d" % (s.word, s.end_frame - s.start_frame + 1) for s in self.decoder.seg())


def print_phones(name, clips, words, noise):
    reader = PhoneReader()
    for (word, _), takes in zip(words, clips):
        heard = reader.phones(prepare(takes[0], PADDINGS[1], SEEDS[0], noise))
        print("  %-24s %-10s %s" % (name, word, heard), file=sys.stderr)


def score(name, clips, words, recogniser, noise, verbose):
    right = 0
    trials = 0
    misses = {}
    for (word, _), takes in zip(words, clips):
        for clip, padding, seed in itertools.product(takes, PADDINGS, SEEDS):
            heard = recogniser.word(prepare(clip, padding, seed, noise))
            trials += 1
            if heard == word:
                right += 1
            else:
                misses.setdefault(word, []).append(heard or "-")
    if verbose:
        for word, heard in misses.items():
            print("  %-10s %-8s heard as %s" % (name, word, " ".join(heard)), file=sys.stderr)
    return 100.0 * right / trials


def lyrics_text(tool, word, spoken):
    args = [tool, "lyrics", word] + (["--spoken"] if spoken else [])
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout.strip()


def hand_spoken(spelling):
    return "!" + spelling.replace("!", "").replace("_", "") + " _"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tool", default="build/tools/cantilena-tool")
    parser.add_argument("--verbose", action="store_true", help="list every word heard wrongly")
    parser.add_argument("--phones", action="store_true",
                        help="also print the phones heard in each text's first take (one preparation)")
    parser.add_argument("--only", choices=["hand", "new", "espeak", "alt"], action="append",
                        help="score only these systems (repeatable)")
    parser.add_argument("--style", choices=["sung", "spoken"], action="append",
                        help="score only these styles (repeatable)")
    parser.add_argument("--patch", default=os.path.join(HERE, "voice.yaml"), help="the voice's patch")
    parser.add_argument("--speed", type=int, default=3, help="ticks a speech step (3 is the default speed)")
    parser.add_argument("--formants", type=int, default=64, help="controller 5: the formant scale (64 as written)")
    parser.add_argument("--sung-key", type=int, default=SUNG_KEY)
    parser.add_argument("--spoken-key", type=int, default=SPOKEN_KEY)
    parser.add_argument("--syllable-note", type=float, default=SYLLABLE_NOTE)
    parser.add_argument("--last-note", type=float, default=LAST_NOTE)
    parser.add_argument("--breath", type=float, default=BREATH)
    parser.add_argument("--spoken-note", type=float, default=SPOKEN_NOTE)
    parser.add_argument("--texts", help="a file of lines 'word sung-text spoken-text': scored as system alt")
    parser.add_argument("--takes", type=int, default=TAKES, help="renders of each text")
    parser.add_argument("--trim", type=float, help="cut each clip to where it is within this many dB of its peak")
    args = parser.parse_args()
    global TRIM_DB
    TRIM_DB = args.trim
    tool = os.path.abspath(args.tool)
    words = read_words()
    recogniser = Recogniser(words)
    noise = Noise()
    systems = args.only or ["hand", "new", "espeak"]
    styles = args.style or ["sung", "spoken"]
    results = []
    with tempfile.TemporaryDirectory() as workdir:
        def takes(texts, spoken):
            renders = [render(tool, texts, spoken, workdir, "render", args, take) for take in range(args.takes)]
            return list(zip(*renders))

        def run(label, sung, spoken):
            if "sung" in styles:
                results.append((label + ", sung", takes(sung, False)))
            if "spoken" in styles:
                results.append((label + ", spoken", takes(spoken, True)))
        if "hand" in systems:
            run("hand spellings", [s for _, s in words], [hand_spoken(s) for _, s in words])
        if "new" in systems:
            sung = [lyrics_text(tool, w, False) for w, _ in words]
            spoken = [lyrics_text(tool, w, True) for w, _ in words]
            if args.verbose:
                for (w, _), a, b in zip(words, sung, spoken):
                    print("  %-10s %-28s %s" % (w, a, b), file=sys.stderr)
            run("lyrics", sung, spoken)
        if "alt" in systems:
            alt = {}
            for line in open(args.texts):
                if line.strip() and not line.startswith("#"):
                    w, a, b = line.split(None, 2)
                    alt[w] = (a, b.rstrip("\n"))
            run("alternative", [alt[w][0] for w, _ in words], [alt[w][1] for w, _ in words])
        if "espeak" in systems:
            results.append(("espeak-ng, spoken", [[clip] * args.takes for clip in espeak_clips(words, workdir)]))
        print("%d words, forced choice, %d preparations a clip (paddings %s s, noise seeds %s, %g dBFS floor)"
              % (len(words), len(PADDINGS) * len(SEEDS), "/".join(map(str, PADDINGS)),
                 "/".join(map(str, SEEDS)), NOISE_DB))
        for name, clips in results:
            if args.phones:
                print_phones(name, clips, words, noise)
            print("%-24s %5.1f%%" % (name, score(name, clips, words, recogniser, noise, args.verbose)), flush=True)


if __name__ == "__main__":
    main()
