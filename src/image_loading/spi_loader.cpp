#include "image_loading/spi_loader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "ketto_limits.h"
#include "platform/bmp.h"
#include "platform/text.h"

TSpiload SpiLoader;

namespace {

bool IsNativeKind(const char *ext)
{
    return std::strcmp(ext, ".BMP") == 0 || std::strcmp(ext, ".ICO") == 0 ||
           std::strcmp(ext, ".WMF") == 0 || std::strcmp(ext, ".EMF") == 0;
}

std::string JoinPath(const std::string &dir, const std::string &name)
{
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// The two blocks GetPicture hands over. They are unlocked and freed however the transfer ends,
// including when the plug-in reports failure after having made them.
struct PictureBlocks {
    HGLOBAL info = nullptr;
    HGLOBAL bits = nullptr;
    void *infoAddress = nullptr;
    void *bitsAddress = nullptr;

    PictureBlocks() = default;
    PictureBlocks(const PictureBlocks &) = delete;
    PictureBlocks &operator=(const PictureBlocks &) = delete;
    ~PictureBlocks()
    {
        if (bitsAddress)
            GlobalUnlock(bits);
        if (infoAddress)
            GlobalUnlock(info);
        GlobalFree(bits);
        GlobalFree(info);
    }
};

} // namespace

TSpiload::~TSpiload()
{
    FBitmap.reset();
    UnloadPlugins();
}

void TSpiload::UnloadPlugins()
{
    FPlugin = nullptr;
    while (FFirstPlugin) {
        TSpi_plugin *next = FFirstPlugin->FNext;
        delete FFirstPlugin;
        FFirstPlugin = next;
    }
}

void TSpiload::LoadPlugins(const char *dir)
{
    UnloadPlugins();
    FPluginDir = dir ? dir : "";
    // An empty directory would mean the working directory, and plug-ins are only ever taken
    // from the program's own folder.
    if (FPluginDir.empty())
        return;

    TSpi_plugin *tail = nullptr;
    for (const std::string &name : FindFiles(FPluginDir, "*.spi")) {
        auto plugin = std::make_unique<TSpi_plugin>();
        if (!plugin->Load(JoinPath(FPluginDir, name).c_str()))
            continue;
        TSpi_plugin *added = plugin.release();
        if (tail)
            tail->FNext = added;
        else
            FFirstPlugin = added;
        tail = added;
    }
}

bool TSpiload::SetFile(const char *fileName)
{
    const std::string name = fileName ? fileName : "";
    const std::string ext = UpperCase(ExtractFileExt(name));
    size_t length = std::min(ext.size(), sizeof FExt - 1);
    // Cutting inside a multi-byte character would leave half of it behind.
    if (length < ext.size())
        while (length > 0 && (static_cast<unsigned char>(ext[length]) & 0xC0) == 0x80)
            --length;
    std::memcpy(FExt, ext.data(), length);
    FExt[length] = '\0';

    FFileName = name;
    return CheckSupported();
}

bool TSpiload::CheckSupported()
{
    FPlugin = nullptr;
    if (IsNativeKind(FExt))
        return true;

    if (!FFirstPlugin)
        return false;
    // One descriptor serves every plug-in: opening the file afresh for each would cost more
    // than most of them spend looking at it. Each is still handed it at offset 0.
    const HFILE file = _lopen(FFileName.c_str(), OF_READ | OF_SHARE_DENY_NONE);
    // A file that cannot be opened cannot be read by anyone, so no plug-in is asked.
    if (file == HFILE_ERROR)
        return false;
    for (TSpi_plugin *plugin = FFirstPlugin; plugin && !FPlugin; plugin = plugin->FNext) {
        if (plugin != FFirstPlugin && ::lseek(file, 0, SEEK_SET) != 0)
            break;
        if (plugin->IsSupported(FFileName.c_str(), file) != 0)
            FPlugin = plugin;
    }
    _lclose(file);
    return FPlugin != nullptr;
}

bool TSpiload::LoadBitmap()
{
    FBitmap = std::make_unique<TBitmap>();

    if (IsNativeKind(FExt)) {
        FBitmap->LoadFromFile(FFileName);
        if (!FBitmap->Empty())
            return true;
    }
    if (FPlugin)
        return LoadThroughPlugin();
    return false;
}

bool TSpiload::LoadThroughPlugin()
{
    const char *path = FFileName.c_str();
    SpiPictureInfo info{};
    const int32_t infoResult = FPlugin->GetPictureInfo(path, 0, SPI_INPUT_FILE, &info);
    // The text information is never read; a module that failed may still have made it.
    GlobalFree(info.hInfo);
    if (infoResult != SPI_OK)
        return false;
    FColorDepth = info.colorDepth;
    // The record's size is checked before the bitmap takes it, so a lying module cannot make
    // the program allocate beyond its limits.
    if (!KettoSizeAllowed(info.width, info.height))
        return false;
    // Every row is written by SetDIBits below, so the new pixels need no whitening first.
    FBitmap->Allocate(info.width, info.height);

    PictureBlocks blocks;
    if (FPlugin->GetPicture(path, 0, SPI_INPUT_FILE, &blocks.info, &blocks.bits, nullptr, 0) !=
        SPI_OK)
        return false;
    blocks.bitsAddress = GlobalLock(blocks.bits);
    blocks.infoAddress = GlobalLock(blocks.info);
    // SetDIBits is given each block's true size, so a BITMAPINFO that claims more rows or
    // colours than its blocks hold, or another picture size than the record's, is refused
    // instead of being read beyond its block.
    if (blocks.bitsAddress && blocks.infoAddress &&
        SetDIBits(*FBitmap, 0, static_cast<unsigned>(info.height), blocks.bitsAddress,
                  GlobalSize(blocks.bits), blocks.infoAddress, GlobalSize(blocks.info)) != 0)
        return true;
    // The blocks do not describe the picture the record announced.
    FLastError = EINVAL;
    return false;
}
