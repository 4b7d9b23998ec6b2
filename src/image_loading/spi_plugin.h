// One image plug-in module: the loaded shared object and its entry points.
#pragma once

#include <cstdint>

#include "platform/files.h"
#include "spi_plugin.h"

class TSpi_plugin {
public:
    TSpi_plugin();
    // Unloads the module; the rest of the loader's list is the loader's to destroy.
    ~TSpi_plugin();
    TSpi_plugin(const TSpi_plugin &) = delete;
    TSpi_plugin &operator=(const TSpi_plugin &) = delete;

    // Loads the module at path and binds its entry points. True when it exports IsSupported,
    // GetPictureInfo and GetPicture. A module that loads but lacks one of them stays loaded
    // until this object is destroyed, and FLastError records why it was refused.
    bool Load(const char *path);

    uint32_t FLastError = 0;
    HMODULE FModule = nullptr;
    TSpi_plugin *FNext = nullptr;
    SpiIsSupportedProc IsSupported = nullptr;
    SpiGetPictureInfoProc GetPictureInfo = nullptr;
    SpiGetPictureProc GetPicture = nullptr;
    SpiGetPreviewProc GetPreview = nullptr;
    SpiGetArchiveInfoProc GetArchiveInfo = nullptr;
    SpiGetFileProc GetFile = nullptr;
};
