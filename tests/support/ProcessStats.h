// Resources another process holds, read from /proc: resident memory, open descriptors and
// the bytes it has read so far.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

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
};

}  // namespace testsupport
