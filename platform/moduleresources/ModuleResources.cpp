#include <cstring>
#include <mutex>
#include <vector>

#include <platform/resources.h>

namespace {

std::mutex registryMutex;
std::vector<const ModuleResources*>& Modules() {
    static std::vector<const ModuleResources*> modules;
    return modules;
}

// Module handles are 1-based indexes into the registry, never dereferenced.
const ModuleResources* ModuleFor(HINSTANCE instance) {
    const auto index = reinterpret_cast<uintptr_t>(instance);
    std::lock_guard<std::mutex> lock(registryMutex);
    if (index == 0 || index > Modules().size()) {
        return nullptr;
    }
    return Modules()[index - 1];
}

// A system cursor handle that names no icon.
HCURSOR const kArrowCursor = reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(1));

}  // namespace

HINSTANCE RegisterModuleResources(const ModuleResources* resources) {
    std::lock_guard<std::mutex> lock(registryMutex);
    Modules().push_back(resources);
    return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(Modules().size()));
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    buffer[0] = '\0';
    const ModuleResources* module = ModuleFor(instance);
    if (module == nullptr) {
        return 0;
    }
    for (int i = 0; i < module->stringCount; ++i) {
        if (module->strings[i].id == id) {
            const size_t length = std::strlen(module->strings[i].text);
            const size_t copied = length < static_cast<size_t>(size - 1) ? length : size - 1;
            std::memcpy(buffer, module->strings[i].text, copied);
            buffer[copied] = '\0';
            return static_cast<int>(copied);
        }
    }
    return 0;
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
    const ModuleResources* module = ModuleFor(instance);
    if (module == nullptr || !IS_INTRESOURCE(name)) {
        return nullptr;
    }
    const auto id = static_cast<UINT>(reinterpret_cast<uintptr_t>(name));
    for (int i = 0; i < module->iconCount; ++i) {
        if (module->icons[i].id == id) {
            // The handle is the record itself; FindIcon checks it against the registry.
            return reinterpret_cast<HICON>(const_cast<ResourceIcon*>(&module->icons[i]));
        }
    }
    return nullptr;
}

HCURSOR LoadCursorA(HINSTANCE /*instance*/, LPCSTR name) {
    return name == IDC_ARROW ? kArrowCursor : nullptr;
}

namespace platform {

const ResourceIcon* FindIcon(HICON icon) {
    std::lock_guard<std::mutex> lock(registryMutex);
    for (const ModuleResources* module : Modules()) {
        for (int i = 0; i < module->iconCount; ++i) {
            if (reinterpret_cast<HICON>(const_cast<ResourceIcon*>(&module->icons[i])) == icon) {
                return &module->icons[i];
            }
        }
    }
    return nullptr;
}

const ResourceIcon* ProgramIcon() {
    std::lock_guard<std::mutex> lock(registryMutex);
    return !Modules().empty() && Modules()[0]->iconCount > 0 ? &Modules()[0]->icons[0] : nullptr;
}

const ResourceDialog* FindDialog(HINSTANCE instance, LPCSTR name) {
    const ModuleResources* module = ModuleFor(instance);
    if (module == nullptr || !IS_INTRESOURCE(name)) {
        return nullptr;
    }
    const auto id = static_cast<UINT>(reinterpret_cast<uintptr_t>(name));
    for (int i = 0; i < module->dialogCount; ++i) {
        if (module->dialogs[i].id == id) {
            return &module->dialogs[i];
        }
    }
    return nullptr;
}

std::vector<unsigned char> IconRgba(const ResourceIcon& icon) {
    std::vector<unsigned char> pixels(static_cast<size_t>(icon.width * icon.height * 4));
    for (int row = 0; row < icon.height; ++row) {
        for (int column = 0; column < icon.width; ++column) {
            const char cell = icon.rows[row][column];
            if (cell == '.') {
                continue;
            }
            const int index = cell <= '9' ? cell - '0' : cell - 'A' + 10;
            const uint32_t colour = icon.palette[index & 0xF];
            unsigned char* pixel = &pixels[static_cast<size_t>((row * icon.width + column) * 4)];
            pixel[0] = static_cast<unsigned char>(colour >> 16);
            pixel[1] = static_cast<unsigned char>(colour >> 8);
            pixel[2] = static_cast<unsigned char>(colour);
            pixel[3] = 0xFF;
        }
    }
    return pixels;
}

}  // namespace platform
