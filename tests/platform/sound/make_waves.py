"""Writes the wave fixtures of the sound tests into the folder given as the
first argument, with python3's own wave and struct modules, and a manifest:
one line per file, "name playable channels rate frame_bytes offset size",
plus name.data holding the exact bytes of each playable file's data chunk."""
import math, os, struct, sys, wave

out = sys.argv[1]
manifest = []


def samples(n, width, channels, seed):
    frames = bytearray()
    for i in range(n):
        for c in range(channels):
            v = math.sin((i + 7 * c + seed) / 5.0)
            if width == 1:
                frames += struct.pack('<B', int(128 + 100 * v))
            else:
                frames += struct.pack('<h', int(20000 * v))
    return bytes(frames)


def with_module(name, width, channels, rate, n):
    data = samples(n, width, channels, len(manifest))
    with wave.open(os.path.join(out, name), 'wb') as w:
        w.setnchannels(channels); w.setsampwidth(width); w.setframerate(rate)
        w.writeframes(data)
    raw = open(os.path.join(out, name), 'rb').read()
    manifest.append((name, 1, channels, rate, width * channels, raw.index(b'data') + 8, len(data)))
    open(os.path.join(out, name + '.data'), 'wb').write(data)


def by_hand(name, fmt, data, extra=b'', after=b'', playable=1, claimed=None, channels=1, rate=8000, frame=2):
    chunks = b'fmt ' + struct.pack('<I', len(fmt)) + fmt + extra
    size = len(data) if claimed is None else claimed
    body = chunks + b'data' + struct.pack('<I', size) + data + after
    raw = b'RIFF' + struct.pack('<I', 4 + len(body)) + b'WAVE' + body
    open(os.path.join(out, name), 'wb').write(raw)
    kept = data[:len(data) - len(data) % frame]
    manifest.append((name, playable, channels, rate, frame, raw.index(b'data') + 8, len(kept) if playable else 0))
    if playable:
        open(os.path.join(out, name + '.data'), 'wb').write(kept)


def pcm_fmt(tag, channels, rate, bits):
    align = channels * bits // 8
    return struct.pack('<HHIIHH', tag, channels, rate, rate * align, align, bits)


def extensible(channels, rate, bits, subtag):
    guid = struct.pack('<H', subtag) + b'\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71'
    return pcm_fmt(0xFFFE, channels, rate, bits) + struct.pack('<HHI', 22, bits, 3 if channels == 2 else 4) + guid


with_module('mono8.wav', 1, 1, 8000, 801)
with_module('stereo8.wav', 1, 2, 11025, 500)
with_module('mono16.wav', 2, 1, 22050, 1234)
with_module('stereo16.wav', 2, 2, 44100, 4410)
pcm = samples(999, 2, 1, 3)
# An odd-sized chunk (with its pad byte) and a LIST chunk before the data.
by_hand('extra_chunks.wav', pcm_fmt(1, 1, 8000, 16), pcm,
        extra=b'fact' + struct.pack('<I', 5) + b'abcde\x00' + b'LIST' + struct.pack('<I', 4) + b'INFO')
by_hand('extensible16.wav', extensible(2, 16000, 16, 1), samples(700, 2, 2, 4), channels=2, rate=16000, frame=4)
by_hand('extensible24.wav', extensible(1, 8000, 24, 1), bytes(range(240)) * 3, frame=3)
floats = b''.join(struct.pack('<f', math.sin(i / 3.0) * 0.5) for i in range(600))
by_hand('float32.wav', pcm_fmt(3, 1, 8000, 32), floats, frame=4)
by_hand('int32.wav', pcm_fmt(1, 2, 8000, 32), bytes(range(256)) * 4, channels=2, frame=8)
# A data chunk claiming more than the file holds is cut to whole frames.
by_hand('truncated.wav', pcm_fmt(1, 1, 8000, 16), pcm[:301], claimed=100000)
by_hand('adpcm.wav', struct.pack('<HHIIHH', 2, 1, 8000, 4096, 256, 4), b'\x00' * 512, playable=0)
by_hand('twelve_bit.wav', pcm_fmt(1, 1, 8000, 12), b'\x00' * 64, playable=0)
by_hand('nine_channels.wav', pcm_fmt(1, 9, 8000, 16), b'\x00' * 72, playable=0, channels=9, frame=18)

# "Data" streams of the wave data component.
open(os.path.join(out, 'named.stream'), 'wb').write(struct.pack('<Bi8si', 0, 8, b'ding.wav', 0))
wav = open(os.path.join(out, 'mono8.wav'), 'rb').read()
open(os.path.join(out, 'memory.stream'), 'wb').write(struct.pack('<Bi0si', 1, 0, b'', len(wav)) + wav)
for name, n, m in (('negative_name', -1, 0), ('negative_bytes', 0, -5), ('name_past_end', 1000, 0),
                   ('bytes_past_end', 0, 1000)):
    open(os.path.join(out, name + '.stream'), 'wb').write(struct.pack('<Bi', 1, n) + (struct.pack('<i', m) if n <= 0 else b'') + b'xyz')

with open(os.path.join(out, 'manifest'), 'w') as f:
    for row in manifest:
        f.write(' '.join(str(x) for x in row) + '\n')
