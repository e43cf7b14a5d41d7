"""The committed stream clips, split into frames once at start-up.

clips/<codec>_<width>x<height>.<ext> with codec h264 (Annex B, an access unit delimiter before every
picture), jpeg (concatenated JFIF pictures) or mpeg4 (part 2 elementary stream). make_clips.sh makes
them.
"""

import os
import re

CLIP_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "clips")
_NAME = re.compile(r"^(h264|jpeg|mpeg4)_(\d+)x(\d+)\.(h264|mjpeg|m4v)$")

AUD = b"\x00\x00\x00\x01\x09"
SOI = b"\xff\xd8\xff"
VOP = b"\x00\x00\x01\xb6"
MPEG4_HEADERS = (b"\x00\x00\x01\xb0", b"\x00\x00\x01\xb5", b"\x00\x00\x01\x00", b"\x00\x00\x01\x20")


def split_h264(data):
    """Access units, each starting at its delimiter."""
    return [AUD + part for part in data.split(AUD) if part]


def split_jpeg(data):
    """Pictures, each starting at its SOI marker (entropy-coded data never holds FF D8)."""
    return [SOI + part for part in data.split(SOI) if part]


def split_mpeg4(data):
    """Frames, each ending before the next VOP or before the headers that precede it."""
    frames = []
    start = 0
    vop = data.find(VOP)
    while vop >= 0:
        following = data.find(VOP, vop + 4)
        end = len(data) if following < 0 else following
        if following >= 0:
            header_starts = [pos for pos in (data.rfind(h, vop + 4, following) for h in MPEG4_HEADERS) if pos >= 0]
            if header_starts:
                end = min(header_starts)
        frames.append(data[start:end])
        start = end
        vop = data.find(VOP, end)
    return frames


def config_before_gov(frames):
    """(configuration, frames): the headers ahead of each GOV header (up to any user data) are cut off
    the frames; the first such headers are the configuration."""
    config = b""
    out = []
    for frame in frames:
        gov = frame.find(b"\x00\x00\x01\xb3")
        if gov > 0:
            head = frame[:gov]
            user_data = head.find(b"\x00\x00\x01\xb2")
            config = config or (head if user_data < 0 else head[:user_data])
            frame = frame[gov:]
        out.append(frame)
    return config, out


SPLITTERS = {"h264": split_h264, "jpeg": split_jpeg, "mpeg4": split_mpeg4}


class Clip:
    def __init__(self, codec, width, height, frames, name):
        self.codec = codec
        self.width = width
        self.height = height
        self.frames = frames
        self.name = name


class ClipLibrary:
    def __init__(self, directory=CLIP_DIR):
        self.clips = {}
        for entry in sorted(os.listdir(directory)):
            match = _NAME.match(entry)
            if not match:
                continue
            codec, width, height = match.group(1), int(match.group(2)), int(match.group(3))
            with open(os.path.join(directory, entry), "rb") as handle:
                frames = SPLITTERS[codec](handle.read())
            if frames:
                self.clips.setdefault(codec, []).append(Clip(codec, width, height, frames, entry))
        for clips in self.clips.values():
            clips.sort(key=lambda clip: (clip.width * clip.height, clip.width))

    def codecs(self):
        return set(self.clips)

    def choose(self, codec, size):
        """The largest clip of the codec that fits into size (width, height); the smallest when none
        fits or size is None."""
        clips = self.clips[codec]
        if size is None:
            return clips[0]
        fitting = [clip for clip in clips if clip.width <= size[0] and clip.height <= size[1]]
        return fitting[-1] if fitting else clips[0]
