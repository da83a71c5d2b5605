#!/usr/bin/env python3
"""A head from a photo, turned from -45 to +45 degrees while it smiles,
saved as one strip of pictures.

    python3 examples/python/turntable.py [PHOTO] [-o turntable.png] [--views 9]

Without PHOTO it uses the sample photo that `make` fetches into
build/sample/. Run it after `make install`, or from a build with
PYTHONPATH=build/python.
"""

import argparse
import os

import numpy as np

import kelmo

# %% Options
parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
parser.add_argument("photo", nargs="?", default=os.path.join("build", "sample", "astronaut.png"))
parser.add_argument("-o", "--output", default="turntable.png")
parser.add_argument("--views", type=int, default=9)
parser.add_argument("--size", type=int, default=256)
args = parser.parse_args()

with kelmo.Library() as lib:
    # %% The 66 landmarks and the head
    points = lib.landmarks(args.photo)
    head = lib.create(args.photo, points=points)
    print(f"{args.photo}: head of {sum(len(v) for v, _, _ in head.regions)} vertices")

    # %% The turntable: each view a fresh copy of the head, smiling a bit more
    views = []
    for k in range(args.views):
        t = k / max(args.views - 1, 1)
        with head.copy() as view:
            view.morph("smile", t)
            views.append(view.render(size=args.size, yaw=-45 + 90 * t))

    # %% One strip, transparent where no head is drawn
    strip = np.hstack(views)
    kelmo.save_image(strip, args.output)
    print(f"{args.output}: {strip.shape[1]} x {strip.shape[0]} pixels")
