#!/usr/bin/python3
"""Reads what the simulated box received (a timeline written by mmtty_send,
which reads the keying and figures its timing with the check program's own
code), turns the FSK line into RTTY audio, decodes that with minimodem, prints
the timing, and draws the keying.

    keying.py timeline.csv --wav out.wav [--png out.png] [--png-ja out.png] [--bench]
    keying.py timeline.csv --no-decode [--bench]   where there is no minimodem
                                                    (Windows): the rest only

--png-ja draws the same picture with its words in Japanese, for the Japanese
guide, in IPA P Gothic (fonts-ipafont-gothic).
"""
import argparse
import re
import subprocess
import sys
import wave

MARK_HZ, SPACE_HZ = 2125.0, 2295.0  # RTTY tones: mark is the lower one
RATE = 48000


class Element:
    def __init__(self, ms, line, kind, level, hold):
        self.ms, self.line, self.kind = float(ms), int(line), kind
        self.level, self.hold = int(level), float(hold)


def read_timeline(path):
    meta, elements = {}, []
    with open(path, encoding="ascii") as f:
        for row in f:
            row = row.rstrip("\n")
            if row.startswith("#"):
                key, _, value = row[1:].strip().partition("=")
                meta[key] = value
            elif row and not row.startswith("ms,"):
                elements.append(Element(*row.split(",")))
    return meta, elements


def synthesize(elements, path):
    """Phase-continuous FSK: each report's level holds until the next report;
    silence while PTT is off (the transmitter is off)."""
    import numpy as np

    first = next(e for e in elements if e.kind != "off")
    t0 = first.ms - 300.0
    t1 = elements[-1].ms + 300.0
    n = int((t1 - t0) * RATE / 1000.0)
    freq = np.full(n, MARK_HZ)
    amp = np.zeros(n)
    for i, e in enumerate(elements):
        a = max(0, int((e.ms - t0) * RATE / 1000.0))
        b = int((elements[i + 1].ms - t0) * RATE / 1000.0) if i + 1 < len(elements) else n
        if e.kind == "off":
            continue
        freq[a:b] = MARK_HZ if e.level else SPACE_HZ
        amp[a:b] = 1.0
    phase = 2.0 * np.pi * np.cumsum(freq) / RATE
    samples = (amp * np.sin(phase) * 0.5 * 32767).astype("<i2")
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(samples.tobytes())


def minimodem(path):
    run = subprocess.run(
        ["minimodem", "--rx", "rtty", "-M", str(MARK_HZ), "-S", str(SPACE_HZ), "-f", path],
        capture_output=True, text=True, check=False)
    bps = [float(b) for b in re.findall(r"bps=([0-9.]+)", run.stderr)]
    confidence = [float(c) for c in re.findall(r"confidence=([0-9.]+)", run.stderr)]
    return run.stdout, bps, confidence


def edit_distance(a, b):
    row = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        prev, row[0] = row[0], i
        for j, cb in enumerate(b, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (ca != cb))
    return row[-1]


def figures(meta):
    """The timing as mmtty_send wrote it: nominal element lengths, the table's
    rows (kind, count, median, p99, max), the character periods, the targets."""
    bit_ms, stop_ms, char_ms = (float(v) for v in meta["nominal_ms"].split())
    rows = [row.split() for row in meta["timing"].split(";") if row]
    periods, mean_period = meta["periods"].split()
    targets = [(t.partition(" ")[2], t.startswith("met ")) for t in meta["targets"].split(";") if t]
    return (bit_ms, stop_ms, char_ms), rows, int(periods), float(mean_period), targets


# The picture's words, in English and in Japanese.
WORDS = {
    "en": {
        "levels": ["FSK space (open)", "FSK mark (shorted)", "PTT off (open)", "PTT on (shorted)"],
        "seconds": "time (s)",
        "whole": "tarvokey.fsk: what the box received (every report is one element)",
        "released": "FSK released:\nMMTTY has not\nasked yet",
        "guard": "mark: MMTTY's\n250 ms first guard",
        "ms": "time (ms); numbers: element length in ms at the box "
              "(green start, black data, purple stop 1.5 bits, gray released or idle)",
        "zoom": "from PTT on: FSK released until MMTTY asks (open = space), mark through its "
                "first guard, then each character framed",
    },
    "ja": {
        "levels": ["FSK スペース (オープン)", "FSK マーク (ショート)", "PTT オフ (オープン)",
                   "PTT オン (ショート)"],
        "seconds": "時間 (秒)",
        "whole": "ボックスが受け取った送信全体 (レポート 1 つが 1 エレメント)",
        "released": "FSK は解放:\nMMTTY の\n問い合わせ前",
        "guard": "マーク:\nMMTTY の 250 ms の待ち",
        "ms": "時間 (ミリ秒)。数字はボックスが受け取った各エレメントの長さ (ms)。"
              "緑: スタート、黒: データ、紫: ストップ (1.5 ビット)、灰: 解放中または待機中",
        "zoom": "PTT オンから: MMTTY が問い合わせるまで FSK は解放 (オープン = スペース)、"
                "待ちの間はマーク、その後は各文字がスタートとストップで区切られる",
    },
}


def draw(elements, labels, nominal, path, lang="en"):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    if lang == "ja":
        matplotlib.rcParams["font.family"] = "IPAPGothic"
    words = WORDS[lang]

    t0 = next(e for e in elements if e.kind != "off").ms - 100.0
    fig, (whole, zoom) = plt.subplots(2, 1, figsize=(14, 8), gridspec_kw={"height_ratios": [1, 1.4]})

    def steps(ax, parts, scale):
        times = [(e.ms - t0) * scale for e in parts]
        times.append(times[-1] + parts[-1].hold * scale if parts[-1].hold else times[-1])
        ptt = [0 if e.kind == "off" else 1 for e in parts]
        fsk = [e.level for e in parts]
        ax.step(times, [2.2 + 0.8 * p for p in ptt] + [2.2 + 0.8 * ptt[-1]], where="post",
                color="tab:red", lw=1.5)
        ax.step(times, [0.8 * f for f in fsk] + [0.8 * fsk[-1]], where="post", color="tab:blue",
                lw=1.5)
        ax.set_yticks([0, 0.8, 2.2, 3.0])
        ax.set_yticklabels(words["levels"])
        ax.set_ylim(-0.5, 3.8)
        ax.grid(axis="x", alpha=0.3)

    steps(whole, elements, 1 / 1000.0)
    whole.set_xlabel(words["seconds"])
    whole.set_title(words["whole"])

    # From PTT on to the end of the third character framed.
    on = next(i for i, e in enumerate(elements) if e.kind != "off")
    starts = [i for i, e in enumerate(elements) if e.kind == "start"]
    end = starts[min(3, len(starts) - 1)] if len(starts) > 3 else len(elements) - 1
    part = elements[max(0, on - 1):end + 1]
    steps(zoom, part, 1.0)
    kind_color = {"start": "tab:green", "data": "black", "stop": "tab:purple"}
    bit_ms, _, char_ms = nominal
    char = 0
    for e in part[:-1]:
        x = e.ms - t0
        y = 0.8 * e.level
        zoom.text(x + e.hold / 2, y + 0.12, f"{e.hold:.1f}", ha="center", fontsize=7,
                  color=kind_color.get(e.kind, "gray"))
        zoom.axvline(x, color="lightgray", lw=0.5, zorder=0)
        if e.kind == "start" and char < len(labels) and e is not part[-1]:
            zoom.text(x + char_ms / 2, 1.35, labels[char], ha="center", fontsize=11, weight="bold")
            zoom.annotate("", xy=(x + char_ms, 1.2), xytext=(x, 1.2),
                          arrowprops={"arrowstyle": "<->", "color": "gray"})
            char += 1
    # Between PTT on and MMTTY's first extfskIsTxBusy the FSK line is not
    # driven; that question arms keying, and MMTTY's first guard keeps the
    # line on mark for 250 ms before the first character.
    lead = [e for e in part if e.kind == "lead"]
    if lead:
        x = (lead[0].ms + lead[-1].ms + lead[-1].hold) / 2 - t0
        zoom.text(x, 1.35, words["released"], ha="center", fontsize=9,
                  color="gray")
    first_start = next((e for e in part if e.kind == "start"), None)
    idle = [e for e in part if e.kind == "idle" and first_start is not None and e.ms < first_start.ms]
    if idle:
        x = (idle[0].ms + first_start.ms) / 2 - t0
        zoom.text(x, 1.35, words["guard"], ha="center", fontsize=9,
                  color="gray")
    zoom.set_xlabel(words["ms"])
    zoom.set_title(words["zoom"])
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("timeline")
    parser.add_argument("--wav")
    parser.add_argument("--no-decode", action="store_true",
                        help="leave the decode by minimodem (and its target) to another machine")
    parser.add_argument("--png")
    parser.add_argument("--png-ja", help="the same picture in Japanese, for the Japanese guide")
    parser.add_argument("--bench", action="store_true", help="check the timing targets")
    args = parser.parse_args()
    if not args.no_decode and not args.wav:
        parser.error("--wav is needed, unless --no-decode")

    meta, elements = read_timeline(args.timeline)
    if not any(e.kind != "off" for e in elements):
        print(f"the box received no keyed report ({len(elements)} reports in all)")
        return 1
    sent = meta["text"]
    codes = [int(c, 16) for c in meta["codes"].split()]
    received = [int(c, 16) for c in meta["received_codes"].split()]
    if args.no_decode:
        decoded, bps, confidence, errors = None, [], [], 0
    else:
        synthesize(elements, args.wav)
        decoded_raw, bps, confidence = minimodem(args.wav)
        decoded = " ".join(decoded_raw.split())
        errors = edit_distance(sent, decoded)
    cer = errors / max(1, len(sent))

    nominal, rows, periods, mean_period, targets = figures(meta)
    char_ms = nominal[2]
    print(f"sent:     {sent}")
    if decoded is None:
        print("decoded:  (not here: scripts/keying.py decodes this timeline where minimodem is)")
    else:
        print(f"decoded:  {decoded}   (minimodem --rx rtty)")
    # MMTTY asks extfskIsTxBusy, which arms keying, before its 250 ms first
    # guard: the line rests on mark before the first start bit, and every
    # code it hands over (the opening shift, the text, diddles) is framed.
    text_codes = [int(c, 16) for c in meta.get("text_codes", meta["codes"]).split()]
    framed = received == codes
    shift = {0x1F: "LTRS", 0x1B: "FIGS"}.get(text_codes[0] if text_codes else -1, "shift")
    if framed:
        framing = (f"all {len(codes)} codes MMTTY handed over arrived framed, as sent, "
                   f"the opening {shift} included")
        diddles = len(codes) - len(text_codes)
        if diddles > 0:
            framing += (f"\n          ({len(text_codes)} for the text, then {diddles} LTRS "
                        f"diddle{'s' if diddles > 1 else ''} while MMTTY had nothing to send)")
    else:
        framing = f"{len(received)} of {len(codes)} codes arrived framed, NOT as sent"
    print(f"box:      {framing}")
    print(f"writes:   {meta.get('failed_writes')} failed, {meta.get('faults')} breaches of the "
          f"Win32 contract seen by the simulated box")
    if bps:
        print(f"minimodem: {bps[-1]:.2f} bps measured (45.45 nominal), confidence {confidence[-1]:.2f}")
    if decoded is not None:
        print(f"character error rate: {cer:.2%} ({errors} of {len(sent)})")
    print("element length at the box, error against nominal (ms):")
    print("  element    count   median     p99     max")
    for kind, count, med, p99, mx in rows:
        print(f"  {kind:8} {int(count):7} {float(med):8.2f} {float(p99):7.2f} {float(mx):7.2f}")
    print(f"character period: mean {mean_period:.2f} ms over {periods} back-to-back "
          f"characters ({char_ms:.0f} nominal, {100 * (mean_period - char_ms) / char_ms:+.2f}%)")
    if args.png:
        draw(elements, meta["received_labels"].split(), nominal, args.png)
        print(f"picture:  {args.png}")
    if args.png_ja:
        draw(elements, meta["received_labels"].split(), nominal, args.png_ja, "ja")
        print(f"picture:  {args.png_ja} (in Japanese)")

    ok = framed and decoded in (None, sent)
    if args.bench:
        allocations = int(meta.get("module_allocations", "-1"))
        print(f"heap:     {allocations} allocations by tarvokey.fsk from the end of the open "
              f"to the close (its ticks and the calls MMTTY made meanwhile)")
        targets = targets or [("timing targets: too few characters to judge", False)]
        if decoded is not None:
            targets.append(("no decode errors", errors == 0 and framed))
        else:
            targets.append(("all codes framed, as sent (the decode is judged elsewhere)", framed))
        targets.append(("no allocation while keying", allocations == 0))
        for name, met in targets:
            print(f"  {'met ' if met else 'MISS'}  {name}")
        ok = all(met for _, met in targets)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
