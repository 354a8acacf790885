// Writes and reads back a large RIFF WAVE file in 64 KiB blocks through the file layer, and
// the same amount with dd on the same disk, in one run; prints both rates and their ratio.
//
//   build/werror/bench/bench_wav_io [directory] [MiB]     (default: the current directory, 1024)
//
// Both sides write the same bytes (dd copies our freshly written, still cached file, as
// storage may treat runs of zeros specially) and end their writes with fsync. Reads come
// from the page cache for both sides, which is what isolates the cost of the I/O layer:
// dropped pages are refetched here from a host-side cache at erratic speeds. The read order
// alternates by round; each side's best round counts.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "wavfile/WavFileBase.h"

namespace {

constexpr int32_t kBlock = 64 * 1024;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Shell(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    return Seconds(start);
}

// Writes the file and fsyncs it, leaving it in the page cache as the peer's source.
double WriteOurs(const std::string& path, int32_t blocks) {
    std::vector<char> block(kBlock);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>(i * 7);
    }
    const auto start = std::chrono::steady_clock::now();
    int32_t error = 0;
    auto file = CreateWavFile(path.c_str(), "w", &error);
    file->SetFormatByName("PCM16", 2, 44100);
    if (error != 0 || file->WriteHeader() != 0) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        std::exit(1);
    }
    for (int32_t i = 0; i < blocks; ++i) {
        if (file->Write(block.data(), kBlock) != kBlock) {
            std::fprintf(stderr, "write failed\n");
            std::exit(1);
        }
    }
    file.reset();
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0) {
        std::fprintf(stderr, "fsync failed\n");
        std::exit(1);
    }
    ::close(fd);
    return Seconds(start);
}

double ReadOurs(const std::string& path, int64_t expected) {
    std::vector<char> block(kBlock);
    const auto start = std::chrono::steady_clock::now();
    int32_t error = 0;
    auto file = CreateWavFile(path.c_str(), "r", &error);
    if (error != 0 || file->ReadHeader(0) != 0) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
    }
    int64_t total = 0;
    for (int32_t got; (got = file->Read(block.data(), kBlock)) > 0;) {
        total += got;
    }
    const double seconds = Seconds(start);
    if (total != expected) {
        std::fprintf(stderr, "read %lld bytes, expected %lld\n", static_cast<long long>(total),
                     static_cast<long long>(expected));
        std::exit(1);
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    const int32_t mib = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1024;
    const int32_t blocks = mib * 16;
    const int64_t bytes = static_cast<int64_t>(blocks) * kBlock;
    const std::string ours = dir + "/bench_ours.wav";
    const std::string peer = dir + "/bench_peer.raw";

    // Best of five rounds for each side.
    double peerWrite = 1e9, oursWrite = 1e9, peerRead = 1e9, oursRead = 1e9;
    for (int round = 0; round < 5; ++round) {
        oursWrite = std::min(oursWrite, WriteOurs(ours, blocks));
        peerWrite = std::min(peerWrite, Shell("dd if='" + ours + "' of='" + peer +
                                              "' bs=64K conv=fsync status=none"));
        const std::string readPeer = "dd if='" + peer + "' of=/dev/null bs=64K status=none";
        if (round % 2 == 0) {
            peerRead = std::min(peerRead, Shell(readPeer));
            oursRead = std::min(oursRead, ReadOurs(ours, bytes));
        } else {
            oursRead = std::min(oursRead, ReadOurs(ours, bytes));
            peerRead = std::min(peerRead, Shell(readPeer));
        }
        std::fprintf(stderr, "round %d: write ours %.2fs dd %.2fs, read ours %.2fs dd %.2fs\n",
                     round, oursWrite, peerWrite, oursRead, peerRead);
    }
    std::remove(ours.c_str());
    std::remove(peer.c_str());

    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("%d MiB in 64 KiB blocks, best of 5\n", mib);
    std::printf("write: TWavFileTypeWav %8.1f MB/s   dd %8.1f MB/s   ratio %.3f\n", mb / oursWrite,
                mb / peerWrite, peerWrite / oursWrite);
    std::printf("read:  TWavFileTypeWav %8.1f MB/s   dd %8.1f MB/s   ratio %.3f\n", mb / oursRead,
                mb / peerRead, peerRead / oursRead);
    std::printf("write+read ratio %.3f (goal: at least 0.9)\n",
                (peerWrite + peerRead) / (oursWrite + oursRead));
    return 0;
}
