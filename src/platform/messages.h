// Every message the user can see, exactly as shown. The program has no texts of its own: these
// are the platform's messages, and "%s" stands for the one argument each may take.
#pragma once

#include <string>
#include <string_view>

namespace Msg {
inline constexpr const char *InvalidInteger = "'%s' は整数ではありません";
inline constexpr const char *ListIndexError = "ﾘｽﾄのｲﾝﾃﾞｯｸｽが範囲を超えています";
inline constexpr const char *FOpenError = "ﾌｧｲﾙ %s は開けません";
inline constexpr const char *ReadError = "ｽﾄﾘｰﾑからの読み込みｴﾗｰ";
inline constexpr const char *InvalidBitmap = "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です";
inline constexpr const char *FCreateError = "ﾌｧｲﾙ %s を作成できません";
inline constexpr const char *WriteError = "ｽﾄﾘｰﾑへの書き込みｴﾗｰ";
inline constexpr const char *UnknownClipboardFormat = "未対応のｸﾘｯﾌﾟﾎﾞｰﾄﾞ ﾃﾞｰﾀです";
inline constexpr const char *OutOfResources = "ｼｽﾃﾑ ﾘｿｰｽが足りません";
inline constexpr const char *InOutError = "I/O ｴﾗｰ %s";
} // namespace Msg

// Puts the argument in place of the first "%s".
std::string FormatMessage(std::string_view format, std::string_view argument);
