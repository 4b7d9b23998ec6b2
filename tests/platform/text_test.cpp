#include <gtest/gtest.h>

#include <optional>

#include "platform/errors.h"
#include "platform/text.h"

namespace {

TEST(StrToInt, FollowsTheIntegerGrammar)
{
    const struct {
        const char *text;
        std::optional<int32_t> value;
    } cases[] = {
        {"640", 640},
        {" 640", 640},
        {"   640", 640},
        {"640 ", std::nullopt},
        {"\t640", std::nullopt},
        {"+640", 640},
        {"-640", -640},
        {"0640", 640},
        {"-0", 0},
        {"$280", 640},
        {"0x1E0", 480},
        {"0X1e0", 480},
        {"x1e0", 480},
        {"X1E0", 480},
        {" $00a", 10},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"-2149483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"$FFFFFFFF", -1},
        {"$80000000", INT32_MIN},
        {"$000000000FF", 255},
        {"$100000000", std::nullopt},
        {"-$10", std::nullopt},
        {"+0x10", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"x", std::nullopt},
        {"12a", std::nullopt},
        {"$12g", std::nullopt},
        {"1 2", std::nullopt},
        {"--1", std::nullopt},
        {"６４０", std::nullopt}, // full-width digits are not digits
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        EXPECT_EQ(TryStrToInt(c.text), c.value);
        if (c.value) {
            EXPECT_EQ(StrToInt(c.text), *c.value);
        } else {
            EXPECT_THROW(StrToInt(c.text), EConvertError);
        }
    }
}

TEST(StrToInt, ConversionErrorNamesTheWholeText)
{
    for (const char *text : {"", "abc", " 640 ", "写真"}) {
        try {
            StrToInt(text);
            ADD_FAILURE() << "no error for " << text;
        } catch (const EConvertError &e) {
            EXPECT_EQ(e.Message(), std::string("'") + text + "' は整数ではありません");
        }
    }
}

TEST(IntToStr, WritesDecimalWithASign)
{
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-1), "-1");
    EXPECT_EQ(IntToStr(INT32_MIN), "-2147483648");
    EXPECT_EQ(IntToStr(32767), "32767");
}

TEST(PathFunctions, ExtractFilePathAndExt)
{
    const struct {
        const char *path, *folder, *ext;
    } cases[] = {
        {"/home/user/photo.bmp", "/home/user/", ".bmp"},
        {"archive.tar.bmp", "", ".bmp"},
        {"pics.d/noext", "pics.d/", ""},
        {"/x", "/", ""},
        {"/", "/", ""},
        {"", "", ""},
        {"name.", "", "."},
        {".hidden", "", ".hidden"},
        {"/a.b/c", "/a.b/", ""},
        {"/写真/猫.BMP", "/写真/", ".BMP"},
        {"/フォルダ.d/画像", "/フォルダ.d/", ""},
        {"dir/.ext.GIF", "dir/", ".GIF"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(ExtractFilePath(c.path), c.folder);
        EXPECT_EQ(ExtractFileExt(c.path), c.ext);
    }
}

TEST(UpperCase, ChangesOnlyAsciiLetters)
{
    const std::pair<const char *, const char *> cases[] = {
        {".bmp", ".BMP"}, {"PHOTO.Bmp", "PHOTO.BMP"}, {"a-z{}@[`", "A-Z{}@[`"},
        {"ｇｉｆ.gif", "ｇｉｆ.GIF"}, {"é.jpeg", "é.JPEG"}, {"", ""},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(UpperCase(in), out) << in;
}

} // namespace
