#pragma once
// Names of the artwork the window uses, in one place.
namespace umbra::res {

inline constexpr const char* kIconApp = ":/res/icons/app.svg";
inline constexpr const char* kIconMinimize = ":/res/icons/minimize.svg";
inline constexpr const char* kIconClose = ":/res/icons/close.svg";
inline constexpr const char* kIconUpdate = ":/res/icons/update.svg";
inline constexpr const char* kIconHelp = ":/res/icons/help.svg";
inline constexpr const char* kIconMakeImage = ":/res/icons/make_image.svg";
inline constexpr const char* kIconHide = ":/res/icons/hide.svg";
inline constexpr const char* kIconOpenImage = ":/res/icons/open_image.svg";
inline constexpr const char* kIconSave = ":/res/icons/save.svg";
inline constexpr const char* kIconBurn = ":/res/icons/burn.svg";
inline constexpr const char* kIconFolder = ":/res/icons/folder.svg";
inline constexpr const char* kIconDiscUnknown = ":/res/icons/disc_unknown.svg";
inline constexpr const char* kIconDisc = ":/res/icons/disc.svg";
inline constexpr const char* kIconPadlock = ":/res/icons/padlock.svg";
// Drawings rendered at the size the window shows them (pictures where Qt has no SVG module).
inline constexpr const char* kSkinBody = ":/res/skin/body.svg";
inline constexpr const char* kSkinBanner = ":/res/skin/banner.svg";

}  // namespace umbra::res
