"""Spam caught at a bound on good mail marked spam, from "label score ..." lines."""


def caught_at(scores, fp_bound):
    """Share of spam with a score above the highest cut that marks at most
    fp_bound of the good messages."""
    ham = sorted((s for label, s in scores if label == "ham"), reverse=True)
    spam = [s for label, s in scores if label == "spam"]
    if not ham or not spam:
        return 0.0
    allowed = int(fp_bound * len(ham))  # good messages that may be marked
    # The cut lies just above the (allowed+1)-th highest good score.
    cut = ham[allowed] if allowed < len(ham) else float("-inf")
    return sum(1 for s in spam if s > cut) / len(spam)


def at_cut(scores, cut):
    """(spam caught, good marked) for a fixed cut: score >= cut is spam."""
    ham = [s for label, s in scores if label == "ham"]
    spam = [s for label, s in scores if label == "spam"]
    return (sum(1 for s in spam if s >= cut) / max(1, len(spam)),
            sum(1 for s in ham if s >= cut) / max(1, len(ham)))


def read_scores(lines):
    out = []
    for line in lines:
        parts = line.split()
        if len(parts) >= 2 and parts[0] in ("spam", "ham"):
            out.append((parts[0], float(parts[1])))
    return out
