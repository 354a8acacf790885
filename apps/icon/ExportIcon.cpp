// Writes the program's own window icon (icon resource 107, as the status window loads it) as a
// PNG file, for the desktop's icon theme: export_icon <out.png>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <platform/resources.h>
#include "resources/Resources.h"

namespace {

using Bytes = std::vector<unsigned char>;

void PutBig32(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

uint32_t Crc32(const unsigned char* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void PutChunk(Bytes& out, const char* type, const Bytes& data) {
    PutBig32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBig32(out, Crc32(&out[start], out.size() - start));
}

// A zlib stream of stored (uncompressed) deflate blocks: an icon is a few kilobytes.
Bytes ZlibStored(const Bytes& raw) {
    Bytes out = {0x78, 0x01};
    size_t offset = 0;
    do {
        const size_t length = raw.size() - offset < 65535 ? raw.size() - offset : 65535;
        const bool last = offset + length == raw.size();
        out.push_back(last ? 1 : 0);
        out.push_back(static_cast<unsigned char>(length));
        out.push_back(static_cast<unsigned char>(length >> 8));
        out.push_back(static_cast<unsigned char>(~length));
        out.push_back(static_cast<unsigned char>(~length >> 8));
        out.insert(out.end(), raw.begin() + static_cast<long>(offset),
                   raw.begin() + static_cast<long>(offset + length));
        offset += length;
    } while (offset < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBig32(out, (b << 16) | a);
    return out;
}

Bytes Png(int width, int height, const Bytes& rgba) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutBig32(header, static_cast<uint32_t>(width));
    PutBig32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, filters, no interlace
    PutChunk(out, "IHDR", header);
    Bytes rows;
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int row = 0; row < height; ++row) {
        rows.push_back(0);  // no filter
        rows.insert(rows.end(), rgba.begin() + static_cast<long>(row * stride),
                    rgba.begin() + static_cast<long>((row + 1) * stride));
    }
    PutChunk(out, "IDAT", ZlibStored(rows));
    PutChunk(out, "IEND", {});
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: export_icon <out.png>\n");
        return 2;
    }
    HINSTANCE module = RegisterModuleResources(&QuindleResources());
    const ResourceIcon* icon = platform::FindIcon(LoadIconA(module, MAKEINTRESOURCEA(IDI_QUINDLE)));
    if (icon == nullptr) {
        std::fprintf(stderr, "export_icon: the program has no icon %u\n", IDI_QUINDLE);
        return 1;
    }
    const Bytes png = Png(icon->width, icon->height, platform::IconRgba(*icon));
    FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr || std::fwrite(png.data(), 1, png.size(), file) != png.size() ||
        std::fclose(file) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
