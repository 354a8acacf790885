// The factory: the name chooses the file type, the first letter of the mode the open flags.
#include <strings.h>

#include <cstring>

#include "wavfile/WavFileBase.h"
#include "wavfile/WavFileTypeDAF.h"
#include "wavfile/WavFileTypeGenerator.h"
#include "wavfile/WavFileTypeMP23.h"
#include "wavfile/WavFileTypeNullRecord.h"
#include "wavfile/WavFileTypeWav.h"

namespace {

bool EndsWithIgnoringCase(const char* name, const char* suffix) {
    const size_t length = std::strlen(name);
    const size_t suffixLength = std::strlen(suffix);
    return length >= suffixLength && strcasecmp(name + length - suffixLength, suffix) == 0;
}

}  // namespace

std::unique_ptr<TWavFileBase> CreateWavFile(const char* name, const char* mode, int32_t* error) {
    int32_t ignored = 0;
    if (error == nullptr) {
        error = &ignored;
    }
    if (name == nullptr) {
        name = "";
    }
    *error = WAVFILE_OK;

    std::unique_ptr<TWavFileBase> file;
    if (strcasecmp(name, "null") == 0) {
        file = std::make_unique<TWavFileTypeNullRecord>(name, mode, error);
    } else if (name[0] == '~') {
        file = std::make_unique<TWavFileTypeGenerator>(name, mode, error);
    } else if (EndsWithIgnoringCase(name, ".wav")) {
        file = std::make_unique<TWavFileTypeWav>(name, mode, error);
    } else if (EndsWithIgnoringCase(name, ".daf")) {
        file = std::make_unique<TWavFileTypeDAF>(name, mode, error);
    } else {
        file = std::make_unique<TWavFileTypeMP23>(name, mode, error);
    }

    if (*error == WAVFILE_OK) {
        *error = file->Open(name, OpenFlagsForMode(mode));
    }
    return file;
}
