#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "app/BackgroundJob.h"
#include "app/FormatControls.h"
#include "app/FormatSet.h"
#include "engine/IconJob.h"
#include "engine/Imaging.h"
#include "sys/Handles.h"
#include "sys/WideString.h"
#include "ui/ModalGuards.h"
#include "ui/UiEventSlot.h"

class Application;
class UiWindow;
struct PreviewRequest;

// The single-icon page: a source (any file or folder, a resource file with an icon index, or a running window
// picked with the window picker), a target file, the live preview and the create button. Beside its controls the
// page keeps the picked window and its workers; the members are the indexes of the controls in the main window.
// An icon is made on a worker while the event loop keeps serving the window, the page's inputs greyed.
class SingleIconPage {
public:
    explicit SingleIconPage(Application& app);
    // Waits for a preview or a job still being made.
    ~SingleIconPage();
    SingleIconPage(const SingleIconPage&) = delete;
    SingleIconPage& operator=(const SingleIconPage&) = delete;

    // Creates the page's controls on the tab page being built (the tab control is frozen while a job runs), reads the
    // stored format set and applies the start-up preload: the command-line result (3 a lone path, 4 a lone resource
    // file) and the parser's source.
    void Build(int tabControl, int commandResult, const WideString& source);

    // Runs the page's handler of an event about one of its controls (code: the event; a click's is the control's
    // own index, a field's change kEventEditChange). False for a control that is not the page's.
    bool OnCommand(int control, int code);

    // Handlers of the page's controls.
    void OnKindFile();
    void OnKindResource();
    void OnKindWindow();
    void OnPickWindow();
    void OnPngsToggled();
    void OnFilesDropped(int targetControl, const WideString& path);
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
    // Shows the outcome of an icon the worker has finished (the event loop calls it for every event).
    void CollectJob();
    // True from the create click until the outcome shows.
    bool JobRunning() const { return job_.Running(); }
    // Waits for a running job and shows its outcome.
    void FinishJob();

    // The page's format set as its fifteen option controls show it, and the other way round.
    IconFormatSet ReadOptions();
    void ShowOptions(const IconFormatSet& set);

    int32_t kindFile = 0;
    int32_t kindResource = 0;
    int32_t kindWindow = 0;
    int32_t picker = 0;
    int32_t sourceField = 0;
    int32_t sourceBrowse = 0;
    int32_t indexField = 0;
    int32_t preview32 = 0;
    int32_t preview128 = 0;
    // The labels above the previews, whose texts name them.
    int32_t preview32Label = 0;
    int32_t preview128Label = 0;
    int32_t targetField = 0;
    int32_t targetBrowse = 0;
    FormatControls formats;
    int32_t createButton = 0;
    int32_t singleStatus = 0;

private:
    enum class Kind { kFile, kResource, kWindow };
    // What the page's fields say, read once before the page acts on them.
    struct SingleIconForm {
        Kind kind = Kind::kFile;
        WideString source;
        int32_t iconIndex = 0;
        WideString target;
        IconFormatSet formats;
    };
    SingleIconForm ReadForm();
    // The status line of a form that can't be made, or null; a passing check maps the source's system folders.
    const wchar_t* CheckForm(SingleIconForm& form);
    // The icon job the form asks for.
    IconRequest JobRequest(const SingleIconForm& form) const;
    void StartJob(const IconRequest& request, bool converts);
    void SetKind(Kind kind);
    bool IsChecked(int index);
    void SetChecked(int index, bool checked);
    void SetStatus(const wchar_t* text);
    // The target field's text with its extension forced by the PNGS box.
    WideString WithOutputExtension(const WideString& path);
    // The icon index field's number.
    int32_t IconIndex();
    void ShowPreviews(WorkingImage small, WorkingImage large);
    void ShowWindowPreview(const IconJobFlags flags);
    void BuildControls();
    void EndJob();

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
    // The page's first control; its inputs run from here to the create button.
    int32_t firstControl_ = 0;
    int32_t tabControl_ = 0;
    // The window the picker chose; the source field shows its text.
    HWND pickedWindow_ = nullptr;
    ControlFreeze tabFreeze_;
    ControlFreeze inputFreeze_;
    // The status line the worker leaves; read once the worker has ended.
    WideString jobOutcome_;
    // Declared last: destroyed first, so a worker still running ends before what it writes to goes.
    BackgroundJob job_;
};
