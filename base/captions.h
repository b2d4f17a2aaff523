// The captions of setup's message boxes, as the wide (UTF-16) and the ANSI
// (GBK) message boxes take them, and the version setup installs.
#pragma once

inline constexpr char kVersionText[] = "7.9";

inline constexpr char16_t kCaptionW[] = u"智能墨筏";
inline constexpr char kCaptionA[] = "智能墨筏";
inline constexpr char16_t kSetupCaptionW[] = u"智能墨筏安装";
inline constexpr char kSetupCaptionA[] = "智能墨筏安装";
// The file-copy and extraction messages.
inline constexpr char kCopyCaptionA[] = "智能墨筏(墨筏五笔)安装";
// The layout-registration messages.
inline constexpr char kProductCaptionA[] = "智能墨筏(墨筏五笔)";
