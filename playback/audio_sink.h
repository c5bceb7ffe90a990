#pragma once
// The audio output behind the player. One sink serves one file: the player's
// stream thread opens it, writes the decoded samples, drains it at the end of
// the file and closes it. pause(), resume() and stop() come from other threads
// at any moment, also before open() or after close(), and must not block on
// the audio: a sink remembers them and applies them when it can.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

class AudioSink {
public:
    virtual ~AudioSink() = default;

    // Interleaved signed 16-bit samples at this rate and channel count.
    // False when there is no output to be had.
    virtual bool open(long rate, int channels) = 0;
    // Blocks until the sink has taken all the samples, at the pace of the
    // sound (so also while paused). False after stop() or when the output failed.
    virtual bool write(std::span<const int16_t> samples) = 0;
    // Blocks until what was written has been heard (waiting out a pause).
    // False after stop() or when the output failed.
    virtual bool drain() = 0;
    virtual void close() = 0;

    // The sound stops at once, not after the buffered audio has played;
    // resume() continues from the same sample.
    virtual void pause() = 0;
    virtual void resume() = 0;
    // Silences the sink for good and makes a blocked or later write() or
    // drain() return false at once.
    virtual void stop() = 0;
};

using AudioSinkFactory = std::function<std::unique_ptr<AudioSink>()>;

// The sink every new file gets; an empty factory restores the default, the
// PulseAudio sink. Meant for tests and benchmarks.
void SetAudioSinkFactory(AudioSinkFactory factory);
AudioSinkFactory CurrentAudioSinkFactory();

// Plays through the PulseAudio server of the session (also served by
// PipeWire). Without a reachable server open() fails, which the player takes
// as silence.
std::unique_ptr<AudioSink> MakePulseAudioSink();
