#include "apps/play/StartFailure.h"

#include <string_view>

#include <platform/kernel.h>

namespace {

// Reasons read as strerror's do: no "TWavFile - " in front, no full stop at the end.
std::string AsReason(std::string_view text) {
    constexpr std::string_view kFileLayer = "TWavFile - ";
    if (text.starts_with(kFileLayer)) {
        text.remove_prefix(kFileLayer.size());
    }
    if (text.ends_with('.')) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

}  // namespace

std::string StartFailureLine(const StartFailure& failure) {
    const std::string_view text = failure.errorText != nullptr ? failure.errorText : "";
    std::string name;
    std::string reason;
    if (failure.byDevice) {
        name = failure.deviceName != nullptr ? failure.deviceName : "default device";
        reason = AsReason(text);
    } else {
        name = failure.fileName != nullptr ? failure.fileName : "";
        if (name.starts_with('~')) {
            reason = "invalid tone setting";
        } else if (failure.systemError != ERROR_SUCCESS) {
            char system[256] = {};
            FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           failure.systemError, 0, system, sizeof system, nullptr);
            reason = system;
        } else {
            reason = AsReason(text);
        }
    }
    return "quindle64: " + name + ": " + reason + "\n";
}
