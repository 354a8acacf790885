// An ALSA PCM plugin for the tests ("type lockedpcm"): a device that only one opener can hold at
// a time (an exclusive lock on its output file; a second open fails with EBUSY), that plays
// 16-bit stereo at 48 kHz paced by the monotonic clock, reports an underrun when it runs dry, as
// a sound card does, and has no hardware pause. Its output file (`file`) gets every frame it has
// played (not merely been given), so a dropped buffer never shows there.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct LockedPcm {
    snd_pcm_ioplug_t io{};
    int outFd = -1;
    bool running = false;
    Clock::time_point since;
    snd_pcm_uframes_t playedAtSince = 0;  // frames played before `since`
    snd_pcm_uframes_t played = 0;
    std::vector<char> ring;  // the buffer's frames as written, by buffer position
};

LockedPcm* Of(snd_pcm_ioplug_t* io) {
    return static_cast<LockedPcm*>(io->private_data);
}

int Start(snd_pcm_ioplug_t* io) {
    LockedPcm* pcm = Of(io);
    pcm->running = true;
    pcm->since = Clock::now();
    pcm->playedAtSince = pcm->played;
    return 0;
}

// Plays on by the clock, never past what was written, and appends what it played to the file.
snd_pcm_sframes_t Pointer(snd_pcm_ioplug_t* io) {
    LockedPcm* pcm = Of(io);
    if (pcm->running) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - pcm->since);
        const snd_pcm_uframes_t clock =
            pcm->playedAtSince +
            static_cast<snd_pcm_uframes_t>(elapsed.count()) * io->rate / 1000000;
        const snd_pcm_uframes_t written = io->appl_ptr;
        const snd_pcm_uframes_t frames = std::min(clock, written);
        for (; pcm->played < frames; ++pcm->played) {
            const char* frame = pcm->ring.data() + pcm->played % io->buffer_size * 4;
            if (write(pcm->outFd, frame, 4) != 4) {
                return -EIO;
            }
        }
        if (clock > frames) {  // ran dry
            pcm->running = false;
            return -EPIPE;
        }
    }
    return static_cast<snd_pcm_sframes_t>(pcm->played % io->buffer_size);
}

snd_pcm_sframes_t Transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                           snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
    LockedPcm* pcm = Of(io);
    pcm->ring.resize(io->buffer_size * 4);
    const char* data =
        static_cast<const char*>(areas[0].addr) + areas[0].first / 8 + offset * areas[0].step / 8;
    for (snd_pcm_uframes_t i = 0; i < size; ++i) {
        std::memcpy(pcm->ring.data() + (io->appl_ptr + i) % io->buffer_size * 4, data + i * 4, 4);
    }
    return static_cast<snd_pcm_sframes_t>(size);
}

int Stop(snd_pcm_ioplug_t* io) {
    Of(io)->running = false;
    return 0;
}

int Prepare(snd_pcm_ioplug_t* io) {
    Of(io)->played = 0;
    return Stop(io);
}

int Close(snd_pcm_ioplug_t* io) {
    LockedPcm* pcm = Of(io);
    close(pcm->outFd);  // -1 when the open failed: nothing happens
    delete pcm;
    return 0;
}

const snd_pcm_ioplug_callback_t kCallbacks = {
    .start = Start,
    .stop = Stop,
    .pointer = Pointer,
    .transfer = Transfer,
    .close = Close,
    .prepare = Prepare,
};

}  // namespace

extern "C" SND_PCM_PLUGIN_DEFINE_FUNC(lockedpcm) {
    (void)root;
    const char* path = nullptr;
    snd_config_t* file = nullptr;
    if (stream != SND_PCM_STREAM_PLAYBACK || snd_config_search(conf, "file", &file) < 0 ||
        snd_config_get_string(file, &path) < 0) {
        return -EINVAL;
    }
    auto* pcm = new LockedPcm();
    pcm->io.private_data = pcm;
    pcm->outFd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (pcm->outFd < 0 || flock(pcm->outFd, LOCK_EX | LOCK_NB) < 0 ||
        ftruncate(pcm->outFd, 0) < 0) {
        const int error = errno == EWOULDBLOCK ? -EBUSY : -errno;
        Close(&pcm->io);
        return error;
    }
    pcm->io.version = SND_PCM_IOPLUG_VERSION;
    pcm->io.name = "locked test PCM";
    pcm->io.callback = &kCallbacks;
    pcm->io.poll_fd = pcm->outFd;  // a file: always writable, callers do not wait on it
    pcm->io.poll_events = POLLOUT;
    int error = snd_pcm_ioplug_create(&pcm->io, name, stream, mode);
    if (error < 0) {
        Close(&pcm->io);
        return error;
    }
    const unsigned access[] = {SND_PCM_ACCESS_RW_INTERLEAVED, SND_PCM_ACCESS_MMAP_INTERLEAVED};
    const unsigned format = SND_PCM_FORMAT_S16_LE;
    const auto range = [&](int what, unsigned low, unsigned high) {
        return error < 0 ? error : snd_pcm_ioplug_set_param_minmax(&pcm->io, what, low, high);
    };
    error = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_ACCESS, 2, access);
    error = error < 0
                ? error
                : snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_FORMAT, 1, &format);
    error = range(SND_PCM_IOPLUG_HW_CHANNELS, 2, 2);
    error = range(SND_PCM_IOPLUG_HW_RATE, 48000, 48000);
    error = range(SND_PCM_IOPLUG_HW_PERIOD_BYTES, 256, 1 << 20);
    error = range(SND_PCM_IOPLUG_HW_PERIODS, 2, 1024);
    error = range(SND_PCM_IOPLUG_HW_BUFFER_BYTES, 1024, 4 << 20);
    if (error < 0) {
        snd_pcm_ioplug_delete(&pcm->io);
        return error;
    }
    *pcmp = pcm->io.pcm;
    return 0;
}

extern "C" {
SND_PCM_PLUGIN_SYMBOL(lockedpcm);
}
