#!/usr/bin/env python3
"""Pelorix's learning judge beside bogofilter and SpamAssassin, on the
development part of the public SpamAssassin corpus, in one run.

    compare.py BUILD_DIR [--work DIR] [--no-sa]

Two folds: each judge learns one half of each class and scores the other,
then the other way round. The halves are the earlier and the later
messages in file order, as a user learns from older mail and judges newer
(--alternate: every other message). Prints, for
the whole message and for the header lines alone, the share of spam caught
while at most 0.1% and 0.5% of the good mail is marked spam, and Pelorix's
catch and false positives at its default cuts. Peers that are not installed
are left out.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import figures  # noqa: E402


def header_only(src, dst):
    """The corpus with every message cut after its header lines."""
    if os.path.exists(os.path.join(dst, ".complete")):
        return
    for cls in ("spam", "ham"):
        os.makedirs(os.path.join(dst, cls), exist_ok=True)
        for name in os.listdir(os.path.join(src, cls)):
            with open(os.path.join(src, cls, name), "rb") as f:
                data = f.read()
            end = data.find(b"\r\n\r\n")
            head = data if end < 0 else data[:end + 2]
            with open(os.path.join(dst, cls, name), "wb") as f:
                f.write(head + b"\r\n")
    open(os.path.join(dst, ".complete"), "w").close()


ALTERNATE = False


def items(corpus):
    """(class, path, fold) of every message, folds as the Pelorix tool makes them."""
    out = []
    for cls in ("spam", "ham"):
        names = sorted(os.listdir(os.path.join(corpus, cls)))
        for k, name in enumerate(names):
            fold = k % 2 if ALTERNATE else (0 if 2 * k < len(names) else 1)
            out.append((cls, os.path.join(corpus, cls, name), fold))
    return out


def run_pelorix(build, corpus, mode):
    tool = os.path.join(build, "bench", "classify", "pelorix_classify_eval")
    start = time.time()
    r = subprocess.run([tool, corpus, mode] + (["--alternate"] if ALTERNATE else []),
                       capture_output=True, text=True, check=True)
    sys.stderr.write(r.stderr)
    return figures.read_scores(r.stdout.splitlines()), time.time() - start


def run_bogofilter(corpus):
    if not shutil.which("bogofilter"):
        return None, 0
    all_items = items(corpus)
    scores = []
    start = time.time()
    for fold in (0, 1):
        with tempfile.TemporaryDirectory() as db:
            train = [(c, p) for c, p, f in all_items if f != fold]
            for cls, flag in (("spam", "-s"), ("ham", "-n")):
                files = [p for c, p in train if c == cls]
                for k in range(0, len(files), 500):
                    subprocess.run(["bogofilter", "-d", db, flag, "-B"] + files[k:k + 500], check=True)
            test = [(c, p) for c, p, f in all_items if f == fold]
            label = {p: c for c, p in test}
            for k in range(0, len(test), 500):
                out = subprocess.run(["bogofilter", "-d", db, "-T", "-B"] + [p for _, p in test[k:k + 500]],
                                     capture_output=True, text=True).stdout
                for line in out.splitlines():
                    parts = line.rsplit(" ", 2)
                    if len(parts) == 3 and parts[0] in label:
                        scores.append((label[parts[0]], float(parts[2])))
    return scores, time.time() - start


def run_spamassassin(corpus):
    try:
        subprocess.run(["perl", "-MMail::SpamAssassin", "-e", "1"], check=True, capture_output=True)
    except (OSError, subprocess.CalledProcessError):
        return None, 0
    all_items = items(corpus)
    scores = []
    start = time.time()
    for fold in (0, 1):
        with tempfile.TemporaryDirectory() as work:
            train = os.path.join(work, "train.txt")
            test = os.path.join(work, "test.txt")
            with open(train, "w") as f:
                for c, p, fo in all_items:
                    if fo != fold:
                        f.write("%s %s\n" % (c, p))
            tested = [(c, p) for c, p, fo in all_items if fo == fold]
            with open(test, "w") as f:
                for _, p in tested:
                    f.write(p + "\n")
            label = {p: c for c, p in tested}
            out = subprocess.run(["perl", os.path.join(HERE, "sa_eval.pl"), os.path.join(work, "state"),
                                  train, test], capture_output=True, text=True, check=True).stdout
            for line in out.splitlines():
                path, _, score = line.rpartition(" ")
                if path in label:
                    scores.append((label[path], float(score)))
    return scores, time.time() - start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--work", default=None)
    ap.add_argument("--no-sa", action="store_true")
    ap.add_argument("--alternate", action="store_true")
    ap.add_argument("--spam-cut", type=int, default=95)
    ap.add_argument("--unsure-cut", type=int, default=50)
    a = ap.parse_args()
    global ALTERNATE
    ALTERNATE = a.alternate
    work = a.work or os.path.join(a.build, "corpus")
    whole = os.path.join(work, "dev")
    subprocess.run([sys.executable, os.path.join(HERE, "corpus.py"), whole], check=True)
    headers = os.path.join(work, "dev-headers")
    header_only(whole, headers)

    rows = []
    for label, corpus, mode in (("whole message", whole, "whole"), ("header lines", headers, "header")):
        p, pt = run_pelorix(a.build, corpus, mode)
        b, bt = run_bogofilter(corpus)
        s, st = (None, 0) if a.no_sa else run_spamassassin(corpus)
        for name, sc, t in (("Pelorix", p, pt), ("bogofilter", b, bt), ("SpamAssassin", s, st)):
            if sc is None:
                continue
            rows.append((label, name, figures.caught_at(sc, 0.001), figures.caught_at(sc, 0.005), t, len(sc)))
        caught, marked = figures.at_cut(p, a.spam_cut / 100.0)
        unsure = sum(1 for _, s_ in p if a.unsure_cut / 100.0 <= s_ < a.spam_cut / 100.0) / len(p)
        rows.append((label, "Pelorix at SpamCut %d" % a.spam_cut, caught, marked, pt, len(p)))
        rows.append((label, "  unsure (%d-%d)" % (a.unsure_cut, a.spam_cut), unsure, None, 0, len(p)))
    print("%-14s %-26s %10s %10s %8s %6s" % ("", "judge", "@0.1% FP", "@0.5% FP", "seconds", "msgs"))
    for label, name, c1, c5, t, n in rows:
        if name.startswith("Pelorix at"):
            print("%-14s %-26s %9.1f%% %9.2f%% %8.1f %6d   (caught, good marked spam)" % (label, name, 100 * c1, 100 * c5, t, n))
        elif name.startswith("  unsure"):
            print("%-14s %-26s %9.1f%%   of all messages" % (label, name, 100 * c1))
        else:
            print("%-14s %-26s %9.1f%% %9.1f%% %8.1f %6d" % (label, name, 100 * c1, 100 * c5, t, n))


if __name__ == "__main__":
    main()
