#pragma once

#include <windows.h>

#include <cstdint>

#include "app/FormatControls.h"
#include "app/FormatSet.h"
#include "engine/BatchJob.h"
#include "sys/WideString.h"

class Application;
class UiWindow;

// The batch page: one of the three batch operations (every icon of a resource file, every picture of a folder,
// the icons of all open windows) into a target folder with the page's own format set. A batch runs on a worker
// thread while the start handler keeps the window painted and shows the worker's progress, the page's inputs greyed;
// a close request meanwhile cancels it. The members are the indexes of the page's controls in the main window.
class BatchPage {
public:
    explicit BatchPage(Application& app);
    BatchPage(const BatchPage&) = delete;
    BatchPage& operator=(const BatchPage&) = delete;

    // Creates the page's controls on the tab page just added to the main window and shows the stored format set.
    // The tab control is frozen while a batch runs. The window's default button stays the one it had: the start
    // button becomes the default when the page is shown.
    void Build(int tabControl);

    // True for the controls whose clicks the page handles: kind radios, browse buttons, start and the fifteen
    // option controls (a click on one of those clears the status line).
    bool HandlesClick(int control) const;
    void OnClick(int control);

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
    // Waits for the worker while handling the window's messages (none is dispatched to a page) and shows its
    // progress; true when a close request or the end of the message loop came first.
    bool WaitForWorker(HANDLE thread, const BatchJob& job);
    void ShowProgress(const BatchJob& job, int64_t& shown);

    Application& app_;
    UiWindow& window_;
    int32_t tabControl_ = 0;
    int32_t firstControl_ = 0;  // the page's first control; its inputs run from here to the start button
    const BatchJob* runningJob_ = nullptr;
};
