// Shared pieces of the image-loading tests: scratch folders, the fixture modules and the
// picture files that steer them.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixture_module.h"
#include "image_loading/spi_plugin.h"
#include "spi_plugin.h"

inline std::string FixtureModule(const std::string &name)
{
    return std::string(KETTO_FIXTURE_MODULE_DIR) + "/" + name;
}

// True while the shared object at path is loaded in this process. RTLD_NOLOAD never loads it,
// but a handle it returns is counted, so it is given back at once.
inline bool IsLoaded(const std::string &path)
{
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (std::filesystem::path(testing::TempDir()) / "ketto-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a scratch folder");
        path_ = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    std::string Path() const { return path_.string(); }
    std::string operator/(const std::string &name) const { return (path_ / name).string(); }

    std::string Write(const std::string &name, const std::vector<uint8_t> &bytes) const
    {
        const std::filesystem::path file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return file.string();
    }

private:
    std::filesystem::path path_;
};

// A device-independent picture as a plug-in hands it over: the BITMAPINFO block and the rows.
struct Dib {
    std::vector<uint8_t> info;
    std::vector<uint8_t> bits;
};

// rowsTopFirst holds each row's pixel bytes without padding; the rows are stored bottom-up.
inline Dib MakeDib(int32_t width, uint16_t bitCount, const std::vector<SpiRgbQuad> &palette,
                   const std::vector<std::vector<uint8_t>> &rowsTopFirst)
{
    const auto height = static_cast<int32_t>(rowsTopFirst.size());
    const size_t rowBytes = SpiDibRowBytes(static_cast<uint32_t>(width), bitCount);
    SpiBitmapInfoHeader header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bitCount;
    header.biCompression = SPI_BI_RGB;
    header.biSizeImage = static_cast<uint32_t>(rowBytes * height);
    header.biClrUsed = static_cast<uint32_t>(palette.size());

    Dib dib;
    dib.info.resize(sizeof header + palette.size() * sizeof(SpiRgbQuad));
    std::memcpy(dib.info.data(), &header, sizeof header);
    if (!palette.empty())
        std::memcpy(dib.info.data() + sizeof header, palette.data(),
                    palette.size() * sizeof(SpiRgbQuad));
    dib.bits.resize(rowBytes * height);
    for (int32_t y = 0; y < height; ++y)
        std::copy(rowsTopFirst[y].begin(), rowsTopFirst[y].end(),
                  dib.bits.begin() + static_cast<ptrdiff_t>((height - 1 - y) * rowBytes));
    return dib;
}

// A picture file for the fixture modules: what they answer, and the DIB they hand over.
struct FixturePicture {
    FixtureFile header{};
    Dib dib;

    explicit FixturePicture(uint32_t acceptMask, const Dib &picture = {}, int16_t depth = 24)
        : dib(picture)
    {
        std::memcpy(header.magic, FIXTURE_MAGIC, sizeof header.magic);
        header.accept_mask = acceptMask;
        if (dib.info.size() >= sizeof(SpiBitmapInfoHeader)) {
            SpiBitmapInfoHeader h;
            std::memcpy(&h, dib.info.data(), sizeof h);
            header.width = h.biWidth;
            header.height = h.biHeight;
        }
        header.depth = depth;
    }

    std::vector<uint8_t> Bytes() const
    {
        FixtureFile h = header;
        h.info_size = static_cast<uint32_t>(dib.info.size());
        h.bits_size = static_cast<uint32_t>(dib.bits.size());
        std::vector<uint8_t> out(sizeof h);
        std::memcpy(out.data(), &h, sizeof h);
        out.insert(out.end(), dib.info.begin(), dib.info.end());
        out.insert(out.end(), dib.bits.begin(), dib.bits.end());
        return out;
    }
};

// The fixture module's own record of the calls it received.
inline FixtureStats &Stats(const TSpi_plugin *plugin)
{
    auto *stats = static_cast<FixtureStats *>(dlsym(plugin->FModule, "fixture_stats"));
    if (!stats)
        throw std::runtime_error("not a fixture module");
    return *stats;
}

inline bool DescriptorOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }
