// An ALSA PCM plugin for the tests ("type lockedpcm"): a device that only one opener can hold
// at a time (an exclusive lock on the file named by `lockfile`; a second open fails with
// EBUSY), that plays 16-bit stereo at 48 kHz paced by the monotonic clock, reports an
// underrun when it runs dry, as a sound card does, and has no hardware pause. It appends every
// frame it has played (not merely been given) to the file named by `file`, if given, so a dropped
// buffer never shows there.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct LockedPcm {
    snd_pcm_ioplug_t io{};
    int lockFd = -1;
    int pipeFds[2] = {-1, -1};
    int outFd = -1;
    bool running = false;
    Clock::time_point since;
    snd_pcm_uframes_t playedAtSince = 0;  // frames played before `since`
    snd_pcm_uframes_t played = 0;
    std::vector<char> ring;  // the buffer's frames as written, by buffer position
};

// Appends the frames from `from` to `to` (played positions) to the output file.
void Record(LockedPcm* pcm, snd_pcm_uframes_t from, snd_pcm_uframes_t to) {
    const snd_pcm_uframes_t size = pcm->io.buffer_size;
    if (pcm->outFd < 0 || pcm->ring.size() != size * 4) {
        return;
    }
    for (snd_pcm_uframes_t frame = from; frame < to;) {
        const snd_pcm_uframes_t at = frame % size;
        const snd_pcm_uframes_t count = std::min(to - frame, size - at);
        ssize_t ignored = write(pcm->outFd, pcm->ring.data() + at * 4, count * 4);
        (void)ignored;
        frame += count;
    }
}

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

int Stop(snd_pcm_ioplug_t* io) {
    Of(io)->running = false;
    return 0;
}

snd_pcm_sframes_t Pointer(snd_pcm_ioplug_t* io) {
    LockedPcm* pcm = Of(io);
    if (pcm->running) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - pcm->since);
        snd_pcm_uframes_t frames =
            pcm->playedAtSince +
            static_cast<snd_pcm_uframes_t>(elapsed.count()) * io->rate / 1000000;
        // Never past what was written: a device that ran dry reports the underrun.
        const snd_pcm_uframes_t written = io->appl_ptr;
        const bool dry = frames > written;
        frames = dry ? written : frames;
        Record(pcm, pcm->played, frames);
        pcm->played = frames;
        if (dry) {
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
    // The frames go to the ring at the buffer position of the application pointer.
    const snd_pcm_uframes_t at = io->appl_ptr % io->buffer_size;
    for (snd_pcm_uframes_t i = 0; i < size; ++i) {
        std::memcpy(pcm->ring.data() + (at + i) % io->buffer_size * 4, data + i * 4, 4);
    }
    return static_cast<snd_pcm_sframes_t>(size);
}

int Prepare(snd_pcm_ioplug_t* io) {
    LockedPcm* pcm = Of(io);
    pcm->running = false;
    pcm->played = pcm->playedAtSince = 0;
    return 0;
}

int Close(snd_pcm_ioplug_t* io) {
    LockedPcm* pcm = Of(io);
    for (int fd : {pcm->lockFd, pcm->pipeFds[0], pcm->pipeFds[1], pcm->outFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
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
    std::string lockPath, outPath;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t* entry = snd_config_iterator_entry(i);
        const char* id = nullptr;
        const char* value = nullptr;
        if (snd_config_get_id(entry, &id) < 0) {
            continue;
        }
        if (std::strcmp(id, "lockfile") == 0 && snd_config_get_string(entry, &value) >= 0) {
            lockPath = value;
        } else if (std::strcmp(id, "file") == 0 && snd_config_get_string(entry, &value) >= 0) {
            outPath = value;
        }
    }
    if (stream != SND_PCM_STREAM_PLAYBACK || lockPath.empty()) {
        return -EINVAL;
    }
    auto* pcm = new LockedPcm();
    pcm->lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (pcm->lockFd < 0 || flock(pcm->lockFd, LOCK_EX | LOCK_NB) < 0) {
        const int error = errno == EWOULDBLOCK ? -EBUSY : -errno;
        if (pcm->lockFd >= 0) {
            close(pcm->lockFd);
        }
        delete pcm;
        return error;
    }
    if (!outPath.empty()) {
        pcm->outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
    if (pipe2(pcm->pipeFds, O_CLOEXEC | O_NONBLOCK) < 0) {
        Close(&pcm->io);
        return -errno;
    }
    pcm->io.version = SND_PCM_IOPLUG_VERSION;
    pcm->io.name = "locked test PCM";
    pcm->io.mmap_rw = 0;
    pcm->io.callback = &kCallbacks;
    pcm->io.private_data = pcm;
    pcm->io.poll_fd = pcm->pipeFds[1];  // always writable: callers do not wait on it
    pcm->io.poll_events = POLLOUT;
    int error = snd_pcm_ioplug_create(&pcm->io, name, stream, mode);
    if (error < 0) {
        Close(&pcm->io);
        return error;
    }
    const unsigned access[] = {SND_PCM_ACCESS_RW_INTERLEAVED, SND_PCM_ACCESS_MMAP_INTERLEAVED};
    const unsigned formats[] = {SND_PCM_FORMAT_S16_LE};
    const unsigned ranges[][3] = {{SND_PCM_IOPLUG_HW_CHANNELS, 2, 2},
                                  {SND_PCM_IOPLUG_HW_RATE, 48000, 48000},
                                  {SND_PCM_IOPLUG_HW_PERIOD_BYTES, 256, 1 << 20},
                                  {SND_PCM_IOPLUG_HW_PERIODS, 2, 1024},
                                  {SND_PCM_IOPLUG_HW_BUFFER_BYTES, 1024, 4 << 20}};
    error = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_ACCESS, 2, access);
    if (error >= 0) {
        error = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_FORMAT, 1, formats);
    }
    for (const auto& range : ranges) {
        if (error >= 0) {
            error = snd_pcm_ioplug_set_param_minmax(&pcm->io, static_cast<int>(range[0]), range[1],
                                                    range[2]);
        }
    }
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
