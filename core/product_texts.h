#pragma once

// Every text the client shows or registers, each defined once (UTF-8). Window
// captions double as part of how the presenter windows are found again, so
// they must not change.
namespace zorvak::texts {

// The caption of the taskbar entry and of every message box.
inline constexpr const char* kApplicationTitle = "Zorvak智能广告控制客户端";
// The name of the client's entry in the session's auto-start list.
inline constexpr const char* kAutoRunName = "Telmora广告自动运行";

// The control window.
inline constexpr const char* kControlWindowCaption = "Zorvak广告控制客户端";
inline constexpr const char* kBannerCaption = "Zorvak智能广告客户端";
inline constexpr const char* kQuitCaption = "退出(&X)";
inline constexpr const char* kKeywordLabel = "站点关键字：";
inline constexpr const char* kFetchCaption = "下载播放数据";
inline constexpr const char* kPlayPageCaption = "播放操作";
inline constexpr const char* kPlayOnceCaption = "全屏播放一次";
inline constexpr const char* kPlayInLoopCaption = "全屏循环播放";
// The stop/start toggle reads one or the other.
inline constexpr const char* kStopCaption = "停止播放";
inline constexpr const char* kStartCaption = "开始播放";
inline constexpr const char* kShowDesktopCaption = "显示任务栏和鼠标";
inline constexpr const char* kAutoPlayCaption = "开机启动自动播放";
inline constexpr const char* kRestartCaption = "定时重启";
// The tray menu.
inline constexpr const char* kShowWindowCaption = "显示窗口(&S)";

// The presenter windows.
inline constexpr const char* kImageWindowCaption = "全屏图片";
inline constexpr const char* kVideoWindowCaption = "MP4全屏播放";
inline constexpr const char* kWebPageWindowCaption = "全屏HTML显示";
// The two captions under the video player.
inline constexpr const char* kBrandCaption = "Zorvak智能广告";
inline constexpr const char* kContactNumber = "400-800-8888";

// The message when a partial media file is held by another download; %s is
// the partial file's full path.
inline constexpr const char* kOpenPartialFailedFormat = "打开文件 \"%s\" 失败!";

}  // namespace zorvak::texts
