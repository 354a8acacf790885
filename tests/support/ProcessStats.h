// Resources another process holds, read from /proc: resident memory, open descriptors and
// the bytes it has read so far.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace testsupport {

struct ProcessStats {
    int64_t residentKb = -1;  // VmRSS
    int64_t descriptors = -1;
    int64_t bytesRead = -1;  // rchar: everything read() and its kin returned

    static ProcessStats Of(pid_t pid) {
        ProcessStats stats;
        const std::string dir = "/proc/" + std::to_string(pid);
        std::ifstream status(dir + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0) {
                stats.residentKb = std::stoll(line.substr(6));
            }
        }
        std::ifstream io(dir + "/io");
        for (std::string line; std::getline(io, line);) {
            if (line.rfind("rchar:", 0) == 0) {
                stats.bytesRead = std::stoll(line.substr(6));
            }
        }
        std::error_code error;
        int64_t count = 0;
        for (std::filesystem::directory_iterator it(dir + "/fd", error), end; !error && it != end;
             it.increment(error)) {
            ++count;
        }
        if (!error) {
            stats.descriptors = count;
        }
        return stats;
    }

    // The highest memory and descriptor counts over a short while, so that a sample taken
    // between two passes and one taken during a pass compare alike.
    static ProcessStats Peak(pid_t pid, int samples = 10,
                             std::chrono::milliseconds gap = std::chrono::milliseconds(25)) {
        ProcessStats peak = Of(pid);
        for (int i = 1; i < samples; ++i) {
            std::this_thread::sleep_for(gap);
            const ProcessStats now = Of(pid);
            peak.residentKb = std::max(peak.residentKb, now.residentKb);
            peak.descriptors = std::max(peak.descriptors, now.descriptors);
            peak.bytesRead = std::max(peak.bytesRead, now.bytesRead);
        }
        return peak;
    }
};

}  // namespace testsupport
