#pragma once

#include <cstdint>
#include <functional>

#include "sys/WideString.h"

class Application;
class UiWindow;

// The utilities page: a folder's own icon made from any file (or the folder's default icon put back), and the
// shell remedies: clearing the icon cache, refreshing and restarting the shell, and the two Explorer switches for
// hidden and system files. Every outcome is one line in one of the page's two status labels. The folder icon and the
// shell remedies run on a worker while the event loop keeps serving the window, the page's inputs greyed. The
// members are the indexes of the page's controls in its window.
class UtilitiesPage {
public:
    // The services behind the page's buttons, the system's own unless replaced (tests put observers in front of
    // them, or stand-ins where the real service would end the shell the test runs under).
    struct Services {
        std::function<bool(const WideString& folder, const WideString& source, int32_t index)> setFolderIcon;
        std::function<bool(const WideString& folder)> resetFolderIcon;
        std::function<bool()> clearIconCache;
        std::function<int()> refreshShellViews;
        std::function<int()> restartShell;
    };

    explicit UtilitiesPage(Application& app);
    UtilitiesPage(const UtilitiesPage&) = delete;
    UtilitiesPage& operator=(const UtilitiesPage&) = delete;

    // Creates the page's controls on the tab page just added to the window and sets the two switches from the
    // stored Explorer settings.
    void Build(UiWindow& window, int tabPage);

    // Runs the page's handler of a click on one of its controls (code: the event; a click's is the control's own
    // index). False for a control that is not the page's.
    bool OnCommand(int control, int code);

    // Handlers of the page's controls.
    void OnSourceBrowse();
    void OnFolderBrowse();
    // The first path of a drop (the main window passes only that one).
    void OnFilesDropped(int targetControl, const WideString& path);
    void OnApply();
    void OnShowHidden();
    void OnShowSystem();
    void OnClearCache();
    void OnRefreshShell();
    void OnRestartShell();

    // Sets both switches from the stored Explorer settings.
    void ShowStoredVisibility();

    Services services;

    int32_t tabPage = 0;
    int32_t folderIconSource = 0;
    int32_t folderIconSourceBrowse = 0;
    int32_t folderField = 0;
    int32_t folderBrowse = 0;
    int32_t applyIconButton = 0;
    int32_t folderIconStatus = 0;
    int32_t clearCacheButton = 0;
    int32_t refreshShellButton = 0;
    int32_t restartShellButton = 0;
    int32_t showHiddenBox = 0;
    int32_t showSystemBox = 0;
    int32_t utilitiesStatus = 0;

private:
    bool IsChecked(int index);
    void SetChecked(int index, bool checked);
    // Runs a service; the line it returns goes into the status label.
    void RunJob(int status, std::function<WideString()> work);
    void ApplyVisibility(int box, bool systemFiles);
    WideString FolderFailureText(const WideString& folder) const;
    // 0 for a resource file (its first icon), -1 for anything converted as a picture.
    int32_t IconIndexFor(const WideString& source) const;

    Application& app_;
    UiWindow* window_ = nullptr;
};
