#include "image_loading/spi_plugin.h"

namespace {

template <typename Proc>
void Bind(HMODULE module, const char *name, Proc &entry)
{
    entry = reinterpret_cast<Proc>(GetProcAddress(module, name));
}

} // namespace

TSpi_plugin::TSpi_plugin() = default;

TSpi_plugin::~TSpi_plugin()
{
    if (FModule)
        FreeLibrary(FModule);
}

bool TSpi_plugin::Load(const char *path)
{
    FModule = LoadLibraryA(path);
    if (!FModule)
        return false;

    Bind(FModule, "IsSupported", IsSupported);
    Bind(FModule, "GetPictureInfo", GetPictureInfo);
    Bind(FModule, "GetPicture", GetPicture);
    Bind(FModule, "GetPreview", GetPreview);
    Bind(FModule, "GetArchiveInfo", GetArchiveInfo);
    Bind(FModule, "GetFile", GetFile);

    // Decoding always asks for the picture information before the picture, so a module without
    // GetPictureInfo could accept files that it can never deliver.
    const bool result = IsSupported && GetPictureInfo && GetPicture;
    if (!result)
        FLastError = GetLastError();
    return result;
}
