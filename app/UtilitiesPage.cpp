#include "app/UtilitiesPage.h"

#include <shlwapi.h>

#include "app/Application.h"
#include "app/FailureText.h"
#include "app/PageStyle.h"
#include "engine/IconLibrary.h"
#include "engine/FolderIcon.h"
#include "sys/Dialogs.h"
#include "sys/ExplorerSettings.h"
#include "sys/FileOperations.h"
#include "sys/IconCache.h"
#include "ui/UiWindow.h"

namespace {

// Every text the page shows, in one place.
namespace text {
constexpr const wchar_t* kFolderIconTitle = L"从任何文件设置文件夹的图标";
constexpr const wchar_t* kOtherTitle = L"其他实用程序";
constexpr const wchar_t* kSourceLabel = L"指定源图标文件或留空以重置文件夹的默认图标";
constexpr const wchar_t* kSourceTip = L"您可将所需的源文件或文件夹拖放到此字段上";
constexpr const wchar_t* kBrowse = L"浏览";
constexpr const wchar_t* kFolderLabel = L"指定要更改图标的文件夹:";
constexpr const wchar_t* kFolderTip = L"您可将所需的文件夹拖放到此字段上";
constexpr const wchar_t* kApply = L" 应用图标 ";
constexpr const wchar_t* kApplyTip = L"将图标应用到指定的文件夹";
constexpr const wchar_t* kDropHint = L"上面的两个输入字段都支持拖放.";
constexpr const wchar_t* kClearCache = L"清除图标缓存";
constexpr const wchar_t* kRefreshShell = L"刷新 Windows 外壳";
constexpr const wchar_t* kRestartShell = L"重启 Windows 外壳";
constexpr const wchar_t* kShowHidden = L" 文件资源管理器显示隐藏文件";
constexpr const wchar_t* kShowHiddenTip = L"在 Windows 文件资源管理器中启用或禁用查看隐藏项目";
constexpr const wchar_t* kShowSystem = L" 文件资源管理器显示系统文件";
constexpr const wchar_t* kShowSystemTip = L"在 Windows 文件资源管理器中启用或禁用查看系统文件";

constexpr const wchar_t* kFolderEmpty = L"目标文件夹字段为空!";
constexpr const wchar_t* kResetting = L"正在恢复文件夹图标...";
constexpr const wchar_t* kResetDone = L"图标已成功恢复. 如果未更新, 请点击下面的清除图标缓存.";
constexpr const wchar_t* kSourceMissing = L"源图标文件不存在";
constexpr const wchar_t* kFolderMissing = L"目标文件夹不存在";
constexpr const wchar_t* kNotAFolder = L"目标文件夹路径不是目录";
constexpr const wchar_t* kSetting = L"正在设置文件夹图标...";
constexpr const wchar_t* kSetDone = L"图标设置成功. 如果未更新, 请点击下面的清除图标缓存.";
constexpr const wchar_t* kFolderFailed = L"操作未成功.";
constexpr const wchar_t* kFolderNotAPicture = L" 源文件不是可读取的图片或图标, 或已损坏.";
constexpr const wchar_t* kFolderInUse = L" desktop.ini 或文件夹图标正被其他程序使用.";
constexpr const wchar_t* kFolderDiskFull = L" 磁盘空间不足.";
constexpr const wchar_t* kFolderDenied = L" 拒绝访问该文件夹.";
constexpr const wchar_t* kFolderGone = L" 目标文件夹不存在.";
constexpr const wchar_t* kSwitchDone = L"调整成功应用.";
constexpr const wchar_t* kSwitchFailed = L"无法应用调整.";
constexpr const wchar_t* kCacheDone = L"图标缓存已成功重置";
constexpr const wchar_t* kCacheFailed = L"无法重置图标缓存.";
constexpr const wchar_t* kRefreshDone = L"Windows 外壳已成功重置";
constexpr const wchar_t* kRefreshFailed = L"无法重置 Windows 外壳.";
constexpr const wchar_t* kRestartDone = L"Windows 外壳已成功重新启动";
constexpr const wchar_t* kRestartFailed = L"无法重启 Windows 外壳.";
}  // namespace text

}  // namespace

UtilitiesPage::UtilitiesPage(Application& app) : app_(app) {
    services.setFolderIcon = SetFolderIcon;
    services.resetFolderIcon = ResetFolderIcon;
    services.clearIconCache = ClearIconCache;
    services.refreshShellViews = [] { return RefreshShellViews(); };
    services.restartShell = RestartShell;
}

void UtilitiesPage::Build(UiWindow& window, int page) {
    window_ = &window;
    tabPage = page;
    UiWindow& w = window;
    const HBITMAP checkOn = static_cast<HBITMAP>(app_.checkImages[Application::kCheckChecked].Get());
    const HBITMAP checkOff = static_cast<HBITMAP>(app_.checkImages[Application::kCheckUnchecked].Get());
    auto title = [&w](const wchar_t* caption, int y, int width) {
        w.addLabel(caption, 20, y, width, 22);
        w.setTextColor(-1, kTitleColor);
        w.setFont(10, 400);
    };

    title(text::kFolderIconTitle, 5, 270);
    title(text::kOtherTitle, 230, 170);
    w.addLabel(text::kSourceLabel, 20, 40, 500, 16);
    folderIconSource = w.addEdit(L"", 20, 60, 537, 20, kEditStyle);
    w.setTip(folderIconSource, text::kSourceTip);
    w.setAccessibleName(folderIconSource, text::kSourceLabel);
    folderIconSourceBrowse = w.addButton(text::kBrowse, 562, 59, 60, 22);
    w.addLabel(text::kFolderLabel, 20, 100, 300, 16);
    folderField = w.addEdit(L"", 20, 120, 537, 20, kEditStyle);
    w.setTip(folderField, text::kFolderTip);
    w.setAccessibleName(folderField, text::kFolderLabel);
    folderBrowse = w.addButton(text::kBrowse, 562, 119, 60, 22);
    applyIconButton = w.addButton(text::kApply, 490, 160, 140, 32);
    w.setTip(applyIconButton, text::kApplyTip);
    w.setIconFromResource(applyIconButton, app_.osVersion >= 5.9 ? -1 : 0, app_.instance);
    folderIconStatus = w.addLabel(text::kDropHint, 20, 165, 460, 20);
    w.setLiveRegion(folderIconStatus);

    clearCacheButton = w.addButton(text::kClearCache, 20, 265, 180, 26);
    refreshShellButton = w.addButton(text::kRefreshShell, 235, 265, 180, 26);
    restartShellButton = w.addButton(text::kRestartShell, 450, 265, 180, 26);
    showHiddenBox = w.addCheckBox(text::kShowHidden, checkOn, checkOff, 20, 330, 250, kStateUnchecked);
    w.setTip(showHiddenBox, text::kShowHiddenTip);
    showSystemBox = w.addCheckBox(text::kShowSystem, checkOn, checkOff, 325, 330, 250, kStateUnchecked);
    w.setTip(showSystemBox, text::kShowSystemTip);
    ShowStoredVisibility();
    utilitiesStatus = w.addLabel(L"", 20, 405, 460, 20);
    w.setLiveRegion(utilitiesStatus);
}

bool UtilitiesPage::OnCommand(int control, int code) {
    if (control <= 0 || code != control) return false;
    if (control == folderIconSourceBrowse)
        OnSourceBrowse();
    else if (control == folderBrowse)
        OnFolderBrowse();
    else if (control == applyIconButton)
        OnApply();
    else if (control == showHiddenBox)
        OnShowHidden();
    else if (control == showSystemBox)
        OnShowSystem();
    else if (control == clearCacheButton)
        OnClearCache();
    else if (control == refreshShellButton)
        OnRefreshShell();
    else if (control == restartShellButton)
        OnRestartShell();
    else
        return false;
    return true;
}

void UtilitiesPage::RunJob(int status, std::function<WideString()> work) {
    // The folder icon and the shell remedies talk to the shell through COM and run on this thread: from a worker
    // thread the shell under Wine stopped answering now and then, and with it every later shell call. The status
    // shown before the work is painted at once rather than through a drain of the queue.
    RedrawWindow(window_->handleOf(status), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    window_->setText(status, work().Text());
}

bool UtilitiesPage::IsChecked(int index) {
    return window_->getState(index, kStateChecked) != 0;
}

void UtilitiesPage::SetChecked(int index, bool checked) {
    window_->setState(index, checked ? kStateChecked : kStateUnchecked);
}

void UtilitiesPage::ShowStoredVisibility() {
    const ExplorerVisibility stored = ReadExplorerVisibility();
    SetChecked(showHiddenBox, stored.hiddenFiles);
    SetChecked(showSystemBox, stored.systemFiles);
}

void UtilitiesPage::OnSourceBrowse() {
    WideString chosen;
    if (OpenFileDialog(chosen, kFolderIconFileDialog, nullptr, window_->window))
        window_->setText(folderIconSource, chosen.Text());
}

void UtilitiesPage::OnFolderBrowse() {
    WideString chosen;
    if (BrowseForFolder(chosen, kFolderToCustomizeDialog, window_->window))
        window_->setText(folderField, chosen.Text());
}

void UtilitiesPage::OnFilesDropped(int targetControl, const WideString& path) {
    if (path.IsEmpty()) return;
    if (targetControl == folderField) {
        if (PathIsDirectoryW(path.Text())) window_->setText(folderField, path.Text());
        return;
    }
    window_->setText(folderIconSource, path.Text());
}

int32_t UtilitiesPage::IconIndexFor(const WideString& source) const {
    return IsResourceFileName(source) ? 0 : -1;
}

void UtilitiesPage::OnApply() {
    UiWindow& w = *window_;
    const WideString folder(w.getText(folderField));
    if (folder.IsEmpty()) return (void)w.setText(folderIconStatus, text::kFolderEmpty);
    const WideString source(w.getText(folderIconSource));
    if (source.IsEmpty()) {
        w.setText(folderIconStatus, text::kResetting);
        return RunJob(folderIconStatus, [this, folder] {
            // The outcome is noted on the worker's thread, which is where the write's cause is read.
            RememberOutputResult(Result());
            const bool reset = services.resetFolderIcon(folder);
            return reset ? WideString(text::kResetDone) : FolderFailureText(folder);
        });
    }
    if (!FileExists(source.Text(), true)) return (void)w.setText(folderIconStatus, text::kSourceMissing);
    if (!FileExists(folder.Text(), true)) return (void)w.setText(folderIconStatus, text::kFolderMissing);
    if (!PathIsDirectoryW(folder.Text())) return (void)w.setText(folderIconStatus, text::kNotAFolder);

    w.setText(folderIconStatus, text::kSetting);
    const int32_t index = IconIndexFor(source);
    RunJob(folderIconStatus, [this, folder, source, index] {
        RememberOutputResult(Result());
        const bool set = services.setFolderIcon(folder, source, index);
        return set ? WideString(text::kSetDone) : FolderFailureText(folder);
    });
}

// A folder icon that could not be set or reset: why, where the icon write or a look at the folder's desktop.ini
// tells.
WideString UtilitiesPage::FolderFailureText(const WideString& folder) const {
    const FailureWording wording = {text::kFolderFailed,     text::kFolderFailed,   text::kFolderGone,
                                    text::kFolderInUse,      text::kFolderDiskFull, text::kFolderDenied,
                                    text::kFolderNotAPicture};
    return FailureLine(LastOutputFailure(WideString::Concat(folder, L"\\desktop.ini")), wording, app_.isAdmin);
}

void UtilitiesPage::ApplyVisibility(int box, bool systemFiles) {
    const int written =
        SetExplorerVisibility(IsChecked(box), systemFiles ? ExplorerItems::kSystemFiles : ExplorerItems::kHiddenFiles);
    window_->setText(utilitiesStatus, written != 0 ? text::kSwitchDone : text::kSwitchFailed);
    // Both boxes, since the settings are coupled, and after a failure the clicked box goes back.
    ShowStoredVisibility();
}

void UtilitiesPage::OnShowHidden() {
    ApplyVisibility(showHiddenBox, false);
}

void UtilitiesPage::OnShowSystem() {
    ApplyVisibility(showSystemBox, true);
}

void UtilitiesPage::OnClearCache() {
    RunJob(utilitiesStatus,
           [this] { return WideString(services.clearIconCache() ? text::kCacheDone : text::kCacheFailed); });
}

void UtilitiesPage::OnRefreshShell() {
    RunJob(utilitiesStatus,
           [this] { return WideString(services.refreshShellViews() > 0 ? text::kRefreshDone : text::kRefreshFailed); });
}

void UtilitiesPage::OnRestartShell() {
    RunJob(utilitiesStatus,
           [this] { return WideString(services.restartShell() > 0 ? text::kRestartDone : text::kRestartFailed); });
}
