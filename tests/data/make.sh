#!/bin/sh
# How the files in this folder were made (Debian 12: sox, ffmpeg,
# sndfile-programs, python3). Each is a short tone, a few KiB at most.
set -e
cd "$(dirname "$0")"
# sox: 16-bit mono PCM; 24-bit mono, whose odd-sized data gets a pad byte.
sox -n -r 8000 -c 1 -b 16 sox_pcm16.wav synth 0.05 sine 440
sox -n -r 8000 -c 1 -b 24 sox_pcm24_odd.wav synth 0.0501 sine 440
# sox: 4 channels, which it writes as an extensible descriptor.
sox -n -r 8000 -c 4 -b 16 sox_quad.wav synth 0.02 sine 440
# ffmpeg: unsigned 8-bit stereo with a LIST chunk; 32-bit float; IMA ADPCM.
ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.05 -ac 2 -c:a pcm_u8 ffmpeg_u8.wav
ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.05 -c:a pcm_f32le ffmpeg_f32.wav
ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.1 -c:a adpcm_ima_wav ffmpeg_ima.wav
# libsndfile: 32-bit float with its PEAK chunk.
sndfile-convert -float32 sox_pcm16.wav sndfile_float.wav
# Python's wave module: 8-bit mono with an odd number of samples.
python3 -c "
import wave
w = wave.open('python_u8_odd.wav', 'wb')
w.setnchannels(1); w.setsampwidth(1); w.setframerate(11025)
w.writeframes(bytes(range(0, 255, 2)) + b'\x80')
w.close()"
