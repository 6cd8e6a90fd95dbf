#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "app/FormatControls.h"
#include "app/FormatSet.h"
#include "engine/Imaging.h"
#include "sys/Handles.h"
#include "sys/WideString.h"
#include "ui/UiEventSlot.h"

class Application;
class UiWindow;
struct PreviewRequest;

// The single-icon page: a source (any file or folder, a resource file with an icon index, or a running window
// picked with the window picker), a target file, the live preview and the create button. The page keeps no state
// beside its controls; the members are the indexes of those controls in the main window.
class SingleIconPage {
public:
    explicit SingleIconPage(Application& app);
    // Waits for a preview still being made.
    ~SingleIconPage();
    SingleIconPage(const SingleIconPage&) = delete;
    SingleIconPage& operator=(const SingleIconPage&) = delete;

    // Creates the page's controls on the tab page being built, reads the stored format set and applies the start-up
    // preload: the command-line result (3 a lone path, 4 a lone resource file) and the parser's source.
    void Build(int commandResult, const WideString& source);

    // Handlers of the event loop.
    void OnKindFile();
    void OnKindResource();
    void OnKindWindow();
    void OnPickWindow();
    void OnPngsToggled();
    void OnFilesDropped(int targetControl, const WideString& dropped);
    void OnSourceBrowse();
    void OnTargetBrowse();
    void OnCreate();
    void ClearStatus();

    // Refreshes the previews from the current source. A picture or a file's icon is made on a worker thread, so the
    // window stays responsive while a large picture decodes; only the newest request is ever shown.
    void UpdatePreview();
    void ClearPreview();
    // Shows a preview the worker has finished (the event loop calls it for every event; the worker wakes the loop
    // when it is done) and starts the newest request that waited for it.
    void CollectPreview();
    // True while a preview is being made or waits to be.
    bool PreviewPending() const;

    // The page's format set as its fifteen option controls show it, and the other way round.
    IconFormatSet ReadOptions();
    void ShowOptions(const IconFormatSet& set);
    // True for the ten size boxes and PNGC.

    int32_t kindFile = 0;
    int32_t kindResource = 0;
    int32_t kindWindow = 0;
    int32_t picker = 0;
    int32_t sourceField = 0;
    int32_t sourceBrowse = 0;
    int32_t indexField = 0;
    int32_t preview32 = 0;
    int32_t preview128 = 0;
    int32_t targetField = 0;
    int32_t targetBrowse = 0;
    FormatControls formats;
    int32_t createButton = 0;
    int32_t singleStatus = 0;

private:
    enum class Kind { kFile, kResource, kWindow };
    void SetKind(Kind kind);
    bool IsChecked(int index);
    void SetChecked(int index, bool checked);
    void SetStatus(const wchar_t* text);
    // The target field's text with its extension forced by the PNGS box.
    WideString WithOutputExtension(const WideString& path);
    // The icon index field's number.
    int32_t IconIndex();
    void ShowPreviews(WorkingImage small, WorkingImage large);
    // The status of a failed job: what failed (ending in ": "), then why, with noImage when the source gave no
    // image.
    WideString FailureText(const wchar_t* failed, const wchar_t* noImage, const WideString& target);
    // Handles every queued event once without dispatching it, so that what was just changed is painted.
    void DrainEvents();

    void StartPreview(std::unique_ptr<PreviewRequest> request);
    // Waits for the running preview and collects it.
    void FinishPreview();

    Application& app_;
    UiWindow& window_;
    // Counts preview requests and clearings; a finished preview of an older count is dropped.
    uint32_t previewGeneration_ = 0;
    std::unique_ptr<PreviewRequest> runningPreview_;
    std::unique_ptr<PreviewRequest> nextPreview_;
    KernelHandle previewThread_;
};
