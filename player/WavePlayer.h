// The playback engine: streams one audio file to one wave-output device through four
// rotating 64 KiB buffers. A callback thread with a hidden window receives the device's
// notifications and refills each returned buffer from the file.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include <platform/kernel.h>
#include <platform/waveout.h>
#include <platform/window.h>
#include "wavfile/WavFileBase.h"

// PlayerState values.
constexpr int32_t PLAYER_STOPPED = 0;
constexpr int32_t PLAYER_PLAYING = 1;
constexpr int32_t PLAYER_STOPPING = 2;

// Private message the callback thread posts itself for each returned buffer.
constexpr UINT WM_PLAYER_REFILL = 0x4400;
// Driver message asking for a time stretch; first parameter factor x 10000.
constexpr UINT PLAYER_TIMESTRETCH_MESSAGE = 0x4005;

class WavePlayer {
  public:
    static constexpr int kBufferSlots = 16;
    static constexpr int kBuffersUsed = 4;
    static constexpr int32_t kBufferBytes = 0x10000;

    explicit WavePlayer(HWND mainWindow);
    ~WavePlayer();
    WavePlayer(const WavePlayer&) = delete;
    WavePlayer& operator=(const WavePlayer&) = delete;

    int32_t Start(int32_t deviceId, const char* fileName, int32_t punchIn, float rateFactor,
                  float stretchFactor);
    int32_t Start(int32_t deviceId, const char* fileName);
    int32_t Pause();
    int32_t Restart();
    int32_t Reset();
    int32_t Close();

    // Queries and reports.
    int32_t GetState();
    uint32_t GetPositionBytes(uint32_t* bytes);
    uint32_t GetPositionMs(uint32_t* milliseconds);
    int32_t GetTimeText(char** text);
    int32_t GetFormatText(char** text);
    int32_t GetFormatInfo(char* name, int32_t* channels, int32_t* sampleRate, int32_t* bitRate);
    int32_t GetDeviceCaps(WAVEOUTCAPSA** caps);
    int32_t GetErrorText(char** text);
    // Whose number the recorded error is: 1 the file layer's, 0 the wave-output service's.
    int32_t GetErrorKind();
    int32_t GetDataBytes();
    uint32_t SetVolume(float level);

    // Internal, public for the callback thread and for tests.
    int32_t QueueBuffer(WAVEHDR* header);
    int32_t SetFileError(int32_t code);

  private:
    static DWORD CallbackThreadMain(LPVOID cell);
    void RunCallbackLoop();
    void HandleRefill(WAVEHDR* header);
    int32_t Queue(WAVEHDR* header, bool refill);
    int32_t Write(WAVEHDR* header);
    // With deviceGate held: hands the parked buffers back to the callback thread as if the
    // device had returned them.
    void ReturnParked();
    int32_t RecordServiceError(MMRESULT result);
    void SkipPunchIn(int32_t bytes);
    // Waits in 5 ms steps until the callback thread has brought the state to 0.
    void WaitForStopped();
    bool Playing() const;

    std::atomic<int32_t> state{PLAYER_STOPPED};
    int32_t errorCode = 0;
    int32_t errorKind = 0;
    std::mutex errorLock;  // refills on the callback thread record errors too
    std::atomic<LONG> inFlight{0};
    HWND mainWindow = nullptr;
    HINSTANCE instance = nullptr;
    WAVEHDR* headers[kBufferSlots] = {};
    std::atomic<HWAVEOUT> waveOut{nullptr};
    std::unique_ptr<TWavFileBase> file;
    char errorText[64] = {};
    char timeText[256] = {};
    HANDLE thread = nullptr;
    std::atomic<HWND> callbackWindow{nullptr};
    WAVEOUTCAPSA deviceCaps = {};
    int32_t deviceId = 0;
    double stretchFactor = 1.0;

    // Serialises writing a refilled buffer with the start of a pause or stop, so that once
    // Pause, Reset or Close has begun no buffer reaches the device that was not queued
    // before; the file read itself runs outside it.
    std::mutex deviceGate;
    bool refilling = false;    // the callback thread has taken a returned buffer to refill
    bool refillsHeld = false;  // paused: refilled buffers wait here until Restart
    WAVEHDR* parked[kBuffersUsed] = {};
    int parkedCount = 0;  // parked buffers still count as in flight
};
