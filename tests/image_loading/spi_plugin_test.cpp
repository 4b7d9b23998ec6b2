#include <cerrno>

#include "image_loading/spi_plugin.h"
#include "loader_test_support.h"

namespace {

struct LoadCase {
    const char *module;
    bool loads;             // Load's answer
    bool hasModule;         // FModule set afterwards
    uint32_t lastError;     // FLastError afterwards
    // Which of IsSupported, GetPictureInfo, GetPicture, GetPreview, GetArchiveInfo, GetFile
    // were bound.
    const char *bound;
};

void PrintTo(const LoadCase &c, std::ostream *os) { *os << c.module; }

class PluginLoad : public testing::TestWithParam<LoadCase> {};

TEST_P(PluginLoad, BindsEntryPointsAndUnloadsOnDestruction)
{
    const LoadCase &c = GetParam();
    const std::string path = FixtureModule(c.module);
    {
        TSpi_plugin plugin;
        plugin.FLastError = 12345;
        EXPECT_EQ(plugin.Load(path.c_str()), c.loads);
        EXPECT_EQ(plugin.FModule != nullptr, c.hasModule);
        EXPECT_EQ(plugin.FLastError, c.lastError);
        EXPECT_EQ(plugin.FNext, nullptr);
        const std::string bound = std::string(plugin.IsSupported ? "S" : "-") +
                                  (plugin.GetPictureInfo ? "I" : "-") +
                                  (plugin.GetPicture ? "P" : "-") +
                                  (plugin.GetPreview ? "V" : "-") +
                                  (plugin.GetArchiveInfo ? "A" : "-") +
                                  (plugin.GetFile ? "F" : "-");
        EXPECT_EQ(bound, c.bound);
        // A refused module stays loaded until the object goes.
        EXPECT_EQ(IsLoaded(path), c.hasModule);
    }
    EXPECT_FALSE(IsLoaded(path));
}

// 12345 stands for "not recorded": Load leaves FLastError alone when the module does not load.
INSTANTIATE_TEST_SUITE_P(
    Modules, PluginLoad,
    testing::Values(LoadCase{"Beta.SPI", true, true, 12345, "SIPVAF"},
                    LoadCase{"required_only.spi", false, true, ENOENT, "S-P---"},
                    LoadCase{"no_picture.Spi", false, true, ENOENT, "SI-VAF"},
                    LoadCase{"archive_only.spi", false, true, ENOENT, "S---AF"},
                    LoadCase{"not_a_module.spi", false, false, 12345, "------"},
                    LoadCase{"missing.spi", false, false, 12345, "------"}),
    [](const testing::TestParamInfo<LoadCase> &info) {
        std::string name = info.param.module;
        for (char &ch : name)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

} // namespace
