#include "player/WavePlayer.h"

#include "player/PlayerArithmetic.h"

#include <cstring>
#include <new>

namespace {

constexpr DWORD kPollMs = 5;
constexpr int kWindowWaitSteps = 1000;
constexpr DWORD kThreadEndWaitMs = 2000;
// Beyond the normal wait, how long destruction keeps waiting for a stuck callback thread
// before it gives up and leaves the buffers allocated rather than free them under it.
constexpr DWORD kThreadEndGraceMs = 10000;

}  // namespace

WavePlayer::WavePlayer(HWND window) {
    for (int slot = 0; slot < kBuffersUsed; ++slot) {
        auto* header = static_cast<WAVEHDR*>(GlobalAlloc(GMEM_ZEROINIT, sizeof(WAVEHDR)));
        if (header == nullptr) {
            break;
        }
        headers[slot] = header;
        header->lpData = static_cast<LPSTR>(GlobalAlloc(GMEM_ZEROINIT, kBufferBytes));
        if (header->lpData == nullptr) {
            break;
        }
        header->dwBufferLength = kBufferBytes;
    }
    mainWindow = window;
    errorCode = 0;
    if (mainWindow != nullptr) {
        instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(mainWindow, GWLP_HINSTANCE));
    }
    // The engine's address travels in a small heap cell that the thread reads and frees.
    auto** cell = new WavePlayer*(this);
    thread = CreateThread(nullptr, 0, CallbackThreadMain, cell, 0, nullptr);
    if (thread == nullptr) {
        delete cell;
    }
}

WavePlayer::~WavePlayer() {
    // A device that refuses to close may still hold buffers: it is reset and asked again,
    // and should it still refuse, the buffers are left allocated rather than freed under it.
    bool deviceReleased = Close() == 0;
    if (!deviceReleased) {
        waveOutReset(waveOut.load());
        deviceReleased = Close() == 0;
    }
    bool threadEnded = thread == nullptr;
    if (callbackWindow.load() != nullptr) {
        PostMessageA(callbackWindow.load(), WM_DESTROY, 0, 0);
    }
    if (thread != nullptr) {
        threadEnded = WaitForSingleObject(thread, kThreadEndWaitMs) == WAIT_OBJECT_0 ||
                      WaitForSingleObject(thread, kThreadEndGraceMs) == WAIT_OBJECT_0;
        CloseHandle(thread);
    }
    if (!threadEnded || !deviceReleased) {
        return;  // a thread or device that may still touch the buffers: leave them allocated
    }
    for (WAVEHDR*& header : headers) {
        if (header != nullptr) {
            GlobalFree(header->lpData);
            GlobalFree(header);
            header = nullptr;
        }
    }
}

DWORD WavePlayer::CallbackThreadMain(LPVOID cell) {
    auto** engineCell = static_cast<WavePlayer**>(cell);
    WavePlayer* engine = *engineCell;
    delete engineCell;
    engine->RunCallbackLoop();
    return 1;
}

void WavePlayer::RunCallbackLoop() {
    callbackWindow.store(CreateWindowExA(0, "BUTTON", "QDL_Player", WS_POPUP, 0, 0, 10, 10, nullptr,
                                         nullptr, instance, nullptr));
    MSG message;
    while (GetMessageA(&message, callbackWindow.load(), 0, 0) > 0) {
        switch (message.message) {
            case WM_DESTROY:
                PostQuitMessage(0);
                break;
            case MM_WOM_OPEN:
                break;
            case MM_WOM_CLOSE:
                if (inFlight.load() == 0 && state.load() != PLAYER_STOPPING) {
                    state.store(PLAYER_STOPPED);
                }
                break;
            case MM_WOM_DONE:
                PostMessageA(callbackWindow.load(), WM_PLAYER_REFILL, 0, message.lParam);
                break;
            case WM_PLAYER_REFILL:
                HandleRefill(reinterpret_cast<WAVEHDR*>(message.lParam));
                break;
            default:
                TranslateMessage(&message);
                DispatchMessageA(&message);
                break;
        }
    }
    if (callbackWindow.load() != nullptr) {
        DestroyWindow(callbackWindow.load());
    }
}

// A refill without a header is the end check that Restart posts: it runs after every refill
// already queued, and ends a playback that has nothing in flight. The decrement and the
// decision to refill happen under the gate, so a stop sees either the buffer in flight or
// the refill under way, never neither.
void WavePlayer::HandleRefill(WAVEHDR* header) {
    if (header != nullptr) {
        bool refill = false;
        {
            std::lock_guard<std::mutex> lock(deviceGate);
            InterlockedDecrement(&inFlight);
            refill = state.load() != PLAYER_STOPPING && waveOut.load() != nullptr;
            refilling = refill;
        }
        if (refill) {
            Queue(header, true);
        }
    }
    std::lock_guard<std::mutex> lock(deviceGate);
    refilling = false;
    if (inFlight.load() == 0) {
        state.store(PLAYER_STOPPED);
    }
}

int32_t WavePlayer::QueueBuffer(WAVEHDR* header) {
    return Queue(header, false);
}

// Reads the next block into the buffer and writes it to the device. A refill whose read
// outlasted the start of a stop is not written; one that finds the engine paused is parked.
int32_t WavePlayer::Queue(WAVEHDR* header, bool refill) {
    if (!file || header == nullptr || header->lpData == nullptr) {
        return 0;
    }
    const int32_t bytes = file->Read(header->lpData, kBufferBytes);
    if (bytes <= 0) {
        return 0;
    }
    header->dwBufferLength = static_cast<DWORD>(bytes);
    std::lock_guard<std::mutex> lock(deviceGate);
    if (refill && state.load() == PLAYER_STOPPING) {
        return 0;
    }
    if (refill && refillsHeld) {
        parked[parkedCount++] = header;
        InterlockedIncrement(&inFlight);
        return 0;
    }
    const int32_t result = Write(header);
    if (result == 0) {
        InterlockedIncrement(&inFlight);
    }
    return result;
}

int32_t WavePlayer::Write(WAVEHDR* header) {
    MMRESULT result = waveOutPrepareHeader(waveOut.load(), header, sizeof(WAVEHDR));
    if (result == MMSYSERR_NOERROR) {
        result = waveOutWrite(waveOut.load(), header, sizeof(WAVEHDR));
    }
    return result == MMSYSERR_NOERROR ? 0 : RecordServiceError(result);
}

void WavePlayer::ReturnParked() {
    for (int i = 0; i < parkedCount; ++i) {
        PostMessageA(callbackWindow.load(), WM_PLAYER_REFILL, 0,
                     reinterpret_cast<LPARAM>(parked[i]));
    }
    parkedCount = 0;
}

int32_t WavePlayer::SetFileError(int32_t code) {
    if (code == 0) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(errorLock);
    errorCode = code;
    errorKind = 1;
    return 1;
}

int32_t WavePlayer::RecordServiceError(MMRESULT result) {
    std::lock_guard<std::mutex> lock(errorLock);
    errorCode = static_cast<int32_t>(result);
    errorKind = 0;
    return errorCode;
}

int32_t WavePlayer::Start(int32_t device, const char* fileName) {
    return Start(device, fileName, 0, 1.0f, 1.0f);
}

int32_t WavePlayer::Start(int32_t device, const char* fileName, int32_t punchIn, float rateFactor,
                          float stretch) {
    int32_t code = WAVFILE_OPEN_FAILED;
    if (fileName != nullptr) {
        file = CreateWavFile(fileName, "r", &code);
    }
    if (SetFileError(code) != 0) {
        return 1;
    }
    if (SetFileError(file->ReadHeader(0)) != 0) {
        return 1;
    }

    // The device runs at the file's rate times the factor, computed in single precision.
    file->Set32(WavFmtOffset::SamplesPerSec, ScaleRate(file->SamplesPerSec(), rateFactor));
    const auto* format = reinterpret_cast<const WAVEFORMATEX*>(file->WaveFormat);

    MMRESULT result =
        waveOutOpen(nullptr, static_cast<UINT>(device), format, 0, 0, WAVE_FORMAT_QUERY);
    if (result != MMSYSERR_NOERROR) {
        return RecordServiceError(result);
    }
    for (int step = 0; step < kWindowWaitSteps && callbackWindow.load() == nullptr; ++step) {
        Sleep(kPollMs);
    }
    if (callbackWindow.load() == nullptr) {
        // Without the window no buffer could ever come back: refuse to open the device.
        return RecordServiceError(MMSYSERR_ERROR);
    }
    HWAVEOUT opened = nullptr;
    result = waveOutOpen(&opened, static_cast<UINT>(device), format,
                         reinterpret_cast<DWORD_PTR>(callbackWindow.load()), 0, CALLBACK_WINDOW);
    if (result != MMSYSERR_NOERROR) {
        return RecordServiceError(result);
    }
    waveOut.store(opened);
    deviceId = device;
    result = waveOutPause(opened);
    if (result != MMSYSERR_NOERROR) {
        return RecordServiceError(result);
    }

    stretchFactor = stretch;
    if (!(stretch == 1.0f)) {
        waveOutMessage(opened, PLAYER_TIMESTRETCH_MESSAGE, StretchValue(stretch), 0);
    }
    if (const int32_t skip = WholeFramePunchIn(punchIn, *file); skip > 0) {
        SkipPunchIn(skip);
    }
    for (int slot = 0; slot < kBuffersUsed; ++slot) {
        const int32_t queued = QueueBuffer(headers[slot]);
        if (queued != 0) {
            return queued;
        }
    }
    return 0;
}

// Reads and drops the punch-in bytes in one read, as far as the file delivers them. Should
// a block that large not be available, it is skipped in 64 KiB reads instead.
void WavePlayer::SkipPunchIn(int32_t bytes) {
    std::unique_ptr<char[]> block(new (std::nothrow) char[static_cast<size_t>(bytes)]);
    if (block) {
        file->Read(block.get(), bytes);
        return;
    }
    char chunk[4096];
    while (bytes > 0) {
        const int32_t want =
            bytes < static_cast<int32_t>(sizeof chunk) ? bytes : static_cast<int32_t>(sizeof chunk);
        const int32_t got = file->Read(chunk, want);
        if (got <= 0) {
            break;
        }
        bytes -= got;
    }
}

int32_t WavePlayer::Pause() {
    HWAVEOUT device = waveOut.load();
    if (device == nullptr) {
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(deviceGate);
        refillsHeld = true;
    }
    const MMRESULT result = waveOutPause(device);
    return result == MMSYSERR_NOERROR ? 0 : RecordServiceError(result);
}

int32_t WavePlayer::Restart() {
    HWAVEOUT device = waveOut.load();
    if (device == nullptr) {
        return 0;
    }
    state.store(PLAYER_PLAYING);
    {
        // The buffers refilled during the pause go out first, still paused, in their order.
        std::lock_guard<std::mutex> lock(deviceGate);
        refillsHeld = false;
        for (int i = 0; i < parkedCount; ++i) {
            if (Write(parked[i]) != 0) {
                // Not queued: it comes back to the callback thread at once instead.
                PostMessageA(callbackWindow.load(), WM_PLAYER_REFILL, 0,
                             reinterpret_cast<LPARAM>(parked[i]));
            }
        }
        parkedCount = 0;
    }
    const MMRESULT result = waveOutRestart(device);
    // Behind any refills already posted, check whether anything is in flight at all: a
    // playback that queued nothing must still reach state 0.
    PostMessageA(callbackWindow.load(), WM_PLAYER_REFILL, 0, 0);
    return result == MMSYSERR_NOERROR ? 0 : RecordServiceError(result);
}

int32_t WavePlayer::Reset() {
    HWAVEOUT device = waveOut.load();
    if (device == nullptr || state.load() == PLAYER_STOPPED) {
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(deviceGate);
        state.store(PLAYER_STOPPING);
        refillsHeld = false;  // the device's reset ends a pause too
        ReturnParked();
    }
    const MMRESULT result = waveOutReset(device);
    if (result != MMSYSERR_NOERROR) {
        return RecordServiceError(result);
    }
    // The end check makes the wait end also when nothing was in flight.
    PostMessageA(callbackWindow.load(), WM_PLAYER_REFILL, 0, 0);
    WaitForStopped();
    return 0;
}

int32_t WavePlayer::Close() {
    HWAVEOUT device = waveOut.load();
    if (device != nullptr) {
        // Buffers still on the device or being refilled (a close during playback): stop and
        // take them all back first, so that the device holds none when it is closed. The
        // reset returns every buffer, also from a device that has failed.
        bool busy = false;
        {
            std::lock_guard<std::mutex> lock(deviceGate);
            busy = inFlight.load() != 0 || refilling;
            refillsHeld = false;
            if (busy) {
                state.store(PLAYER_STOPPING);
                ReturnParked();
            }
        }
        if (busy) {
            waveOutReset(device);
            PostMessageA(callbackWindow.load(), WM_PLAYER_REFILL, 0, 0);
            WaitForStopped();
        }
        state.store(PLAYER_PLAYING);  // nothing is in flight now, and no refill can start
        const MMRESULT result = waveOutClose(device);
        if (result != MMSYSERR_NOERROR) {
            return RecordServiceError(result);
        }
        WaitForStopped();
        waveOut.store(nullptr);
    }
    file.reset();
    return 0;
}

void WavePlayer::WaitForStopped() {
    while (state.load() != PLAYER_STOPPED) {
        Sleep(kPollMs);
    }
}
