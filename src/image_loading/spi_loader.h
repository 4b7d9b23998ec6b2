// The image loader: decides who can read a picture file and decodes it into FBitmap.
//
// Windows bitmap files (and the kinds that share their reader) are read natively; every other
// file goes to the first plug-in module, in the order the modules were found, that accepts it.
// The loader raises no errors of its own: it answers true or false and keeps platform error
// codes in FLastError. Only the native reader's errors pass through LoadBitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image_loading/spi_plugin.h"
#include "platform/bitmap.h"

class TSpiload {
public:
    TSpiload() = default;
    ~TSpiload();
    TSpiload(const TSpiload &) = delete;
    TSpiload &operator=(const TSpiload &) = delete;

    // Loads every module named "*.spi" (any letter case) in dir, in byte order of the names.
    // A second call unloads the modules of the first before it searches again.
    void LoadPlugins(const char *dir);
    // Makes fileName the current file. True when it is of a native kind or a plug-in accepts it.
    bool SetFile(const char *fileName);
    bool CheckSupported();
    // Decodes the current file into a new FBitmap. True only when FBitmap holds the picture.
    bool LoadBitmap();

    std::string FPluginDir;
    std::string FFileName;
    // The upper-cased extension of FFileName with its ".". A longer extension than fits is kept
    // cut to at most 31 bytes, at a character boundary; cut, it can never equal a native kind.
    char FExt[32] = {};
    TSpi_plugin *FFirstPlugin = nullptr;
    TSpi_plugin *FPlugin = nullptr;
    std::unique_ptr<TBitmap> FBitmap;
    int32_t FColorDepth = 0;
    uint32_t FLastError = 0;

private:
    void UnloadPlugins();
    bool LoadThroughPlugin();
};

extern TSpiload SpiLoader;
