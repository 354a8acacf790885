// Test noise and a shell for the end-to-end tests.
#pragma once

#include <cstdlib>
#include <string>

#include "support/Noise.h"

namespace waveouttest {

using testsupport::NoiseBytes;

inline int Shell(const std::string& command) {
    return std::system(command.c_str());
}

}  // namespace waveouttest
