// MPEG audio made by an encoder from a sox tone, with what the mpg123 command-line decoder
// makes of the same file: the reference every decoding test compares with.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace testsupport {

struct MpegReference {
    std::string missing;           // a tool that is not installed: nothing was made
    std::vector<uint8_t> coded;    // the encoder's file
    std::vector<uint8_t> decoded;  // mpg123 -s of it: 16-bit interleaved samples
};

// `synth` are sox's arguments after the output file (e.g. "synth 1 sine 300"); `encoder` is
// a lame or twolame command that is given the input and output files after it.
inline MpegReference MakeMpegReference(const TempDir& dir, const std::string& rateAndChannels,
                                       const std::string& synth, const std::string& encoder) {
    MpegReference made;
    const std::string tools[] = {"sox", encoder.substr(0, encoder.find(' ')), "mpg123"};
    for (const std::string& tool : tools) {
        if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) != 0) {
            made.missing = tool;
            return made;
        }
    }
    const std::string wav = dir.File("reference.wav"), coded = dir.File("reference.mpeg");
    const std::string raw = coded + ".raw";
    if (std::system(("sox -n " + rateAndChannels + " -b 16 " + wav + " " + synth).c_str()) == 0 &&
        std::system((encoder + " " + wav + " " + coded).c_str()) == 0 &&
        std::system(("mpg123 -q -s " + coded + " > " + raw).c_str()) == 0) {
        made.coded = ReadBytes(coded);
        made.decoded = ReadBytes(raw);
    }
    return made;
}

}  // namespace testsupport
