// A sine oscillator that renders interleaved frames in one of five sample layouts: one sine
// evaluation per frame serves every channel, and a channel mask silences single channels.
#pragma once

#include <cstdint>

class TToneOscillator {
  public:
    // The phase wraps back by 500 whole periods once it passes this value after a block.
    static constexpr double PhaseWrap = 3141.5926535;
    static constexpr double TwoPi = 6.283185307;

    // sampleKind is the fourth character of the sample type name: '8' PCM8, '1' PCM16,
    // '2' PCM24, '3' PCM32, 'A' FLOAT32 (any other renders PCM16). mask holds one byte per
    // channel (0 = silent) and stays owned by the caller; without a mask nothing is rendered.
    void Init(int32_t wave, double frequency, double sampleRate, double gain, uint16_t channels,
              const uint8_t* mask, char sampleKind);

    // Writes as many whole frames as fit into size bytes (PCM24: a multiple of four frames)
    // and returns the bytes written.
    int32_t Render(void* buffer, int32_t size);

    // Forgets the mask (its owner released it); Render then writes nothing.
    void DetachMask() { Mask = nullptr; }

    static int32_t BytesPerSample(char sampleKind);

    double Phase = 0.0;
    double PhaseStep = 0.0;
    double Gain = 1.0;
    uint16_t ChannelCount = 0;
    int32_t Wave = 1;
    char SampleKind = '1';

  private:
    template <int Bytes, typename Encode>
    void RenderFrames(uint8_t* out, int32_t frames, uint8_t silence, Encode encode);

    const uint8_t* Mask = nullptr;
};
