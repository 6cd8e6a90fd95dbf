#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "app/BackgroundJob.h"
#include "app/FormatControls.h"
#include "app/FormatSet.h"
#include "engine/BatchJob.h"
#include "sys/WideString.h"
#include "ui/ModalGuards.h"

class Application;
class UiWindow;

// The batch page: one of the three batch operations (every icon of a resource file, every picture of a folder,
// the icons of all open windows) into a target folder with the page's own format set. A batch runs on a worker
// thread while the event loop keeps serving the window and shows the worker's progress at every tick, the page's
// inputs greyed; a close request meanwhile cancels it. The members are the indexes of the page's controls in the main
// window.
class BatchPage {
public:
    explicit BatchPage(Application& app);
    ~BatchPage();
    BatchPage(const BatchPage&) = delete;
    BatchPage& operator=(const BatchPage&) = delete;

    // Creates the page's controls on the tab page just added to the main window and shows the stored format set.
    // The tab control is frozen while a batch runs. The window's default button stays the one it had: the start
    // button becomes the default when the page is shown.
    void Build(int tabControl);

    // Runs the page's handler of an event about one of its controls (code: the event; a click's is the control's
    // own index). False for a control that is not the page's.
    bool OnCommand(int control, int code);

    // Handlers of the event loop.
    void OnKindExtract();
    void OnKindConvert();
    void OnKindWindows();
    void OnSourceBrowse();
    void OnTargetBrowse();
    // Only the first of the dropped paths (joined by "\r\n") is used.
    void OnFilesDropped(int targetControl, const WideString& dropped);
    void OnStart();
    void ClearStatus();

    // The page's format set as its fifteen option controls show it, and the other way round.
    IconFormatSet ReadOptions();
    void ShowOptions(const IconFormatSet& set);

    // The running batch's job (null when idle), for a look at its progress.
    const BatchJob* RunningJob() const { return runningJob_; }
    // Shows the running batch's progress, and its result once the worker has ended (the event loop calls it for
    // every event; the worker's end and the progress ticks wake the loop).
    void CollectJob();
    // Cancels the running batch for a close request: true when there was one to cancel; its end is collected
    // later. A batch already cancelled or ended takes no further close.
    bool CancelOnClose();
    // Waits for the running batch (cancelled first when cancel) and shows its result.
    void FinishJob(bool cancel);

    int32_t batchKindExtract = 0;
    int32_t batchKindConvert = 0;
    int32_t batchKindWindows = 0;
    int32_t batchSource = 0;
    int32_t batchSourceBrowse = 0;
    int32_t batchTarget = 0;
    int32_t batchTargetBrowse = 0;
    FormatControls formats;
    int32_t batchStart = 0;
    int32_t batchStatus = 0;
    // The kind radio whose click was handled last (0: none yet).
    int32_t lastBatchKind = 0;

private:
    void ChooseKind(int32_t radio);
    bool IsChecked(int index);
    void SetEnabled(int index, bool enabled);
    void SetStatus(const wchar_t* text);
    // The job the page's fields describe; null, with the reason in the status line, when they describe none.
    std::unique_ptr<BatchJob> ReadJob();
    void ShowProgress();
    void EndJob();

    Application& app_;
    UiWindow& window_;
    int32_t tabControl_ = 0;
    int32_t firstControl_ = 0;  // the page's first control; its inputs run from here to the start button
    const BatchJob* runningJob_ = nullptr;
    // The batch works on its own copy of the page's inputs, so they are greyed while it runs and come back as they
    // were: what the page shows afterwards is what ran. The tab control is frozen too: the page can't change.
    ControlFreeze tabFreeze_;
    ControlFreeze inputFreeze_;
    std::unique_ptr<BatchJob> job_;
    // A thread timer: its ticks wake the event loop, so progress shows without any input.
    UINT_PTR ticks_ = 0;
    int64_t shownProgress_ = -1;
    bool cancelled_ = false;
    // Declared last: destroyed first, so a worker still running ends before the job it works on goes.
    BackgroundJob worker_;
};
