// The thread's last error when a Linux call failed: the Win32 number the program sees, and
// the errno behind it, so that FormatMessageA can give the system's own reason.
#pragma once

namespace platform {

// Sets the last error from a failed Linux call's errno.
void SetLastSystemError(int error);

}  // namespace platform
