#include "app/BatchPage.h"

#include <memory>

#include "app/Application.h"
#include "app/FailureText.h"
#include "app/PageStyle.h"
#include "engine/IconLibrary.h"
#include "engine/BatchOperations.h"
#include "sys/Dialogs.h"
#include "sys/FileOperations.h"
#include "sys/ShortcutReader.h"
#include "ui/ModalGuards.h"
#include "ui/UiWindow.h"

namespace {

// The page's texts.
namespace text {
constexpr wchar_t kSourceTitle[] = L"选择一个源或拖放文件/文件夹到这里";
constexpr wchar_t kTargetTitle[] = L"选择目标目录或将文件夹放在下面的文本字段上";
constexpr wchar_t kFormatsTitle[] = L"图像格式和选项";
constexpr wchar_t kKindExtract[] = L" 从二进制文件的资源 (EXE, DLL, ICL) 中提取所有图标并将它们保存在一个文件夹中";
constexpr wchar_t kKindConvert[] = L" 将文件夹中的所有图片转换为图标并保存在目标文件夹中";
constexpr wchar_t kKindWindows[] = L" 提取所有打开的应用程序窗口的图标并将它们保存在一个文件夹中";
constexpr wchar_t kSourceLabel[] = L"源:";
constexpr wchar_t kSourceTip[] = L"您可将所需的源文件或文件夹拖放到此字段上";
constexpr wchar_t kTargetTip[] = L"您可将所需的目标文件夹拖放到此字段上";
constexpr wchar_t kBrowse[] = L"浏览";
constexpr wchar_t kPngs[] = L"另存为 PNG 图片而不是图标文件. 将使用下面选择的最大图像格式.";
constexpr wchar_t kStart[] = L" 开始 ";
constexpr wchar_t kStartTip[] = L"开始批量图标创建操作";
constexpr wchar_t kAllWindows[] = L"->提取所有窗口的图标";
constexpr wchar_t kInvalidSource[] = L"源位置无效.";
constexpr wchar_t kInvalidTarget[] = L"目标位置无效.";
constexpr wchar_t kNoFormat[] = L"未选择图像格式.";
constexpr wchar_t kCreating[] = L"正在创建图标, 请稍候...";
constexpr wchar_t kProgressDone[] = L" 已完成 ";
constexpr wchar_t kSucceeded[] = L"图标创建操作成功完成";
constexpr wchar_t kPartlyDone[] = L"图标创建操作部分完成: 已写入 ";
constexpr wchar_t kPartlyFiles[] = L" 个文件, 共 ";
constexpr wchar_t kPartlyItems[] = L" 项";
constexpr wchar_t kFailed[] = L"图标创建操作失败.";
constexpr wchar_t kNothingToDo[] = L"图标创建操作失败: 源中没有可处理的项目.";
constexpr wchar_t kFolderMissing[] = L" 目标文件夹不存在.";
constexpr wchar_t kFileInUse[] = L" 目标文件正被其他程序使用.";
constexpr wchar_t kDiskFull[] = L" 磁盘空间不足.";
constexpr wchar_t kAccessDenied[] = L" 拒绝访问目标文件夹.";
constexpr wchar_t kNotAPicture[] = L" 源文件不是可读取的图片或图标, 或已损坏.";
constexpr wchar_t kCancelled[] = L"图标创建操作在完成之前已被取消";
}  // namespace text

// How often the event loop shows a running batch's progress when no message arrives.
constexpr UINT kProgressIntervalMs = 100;

// A batch that wrote nothing: why, as the first failed item tells it, or that there was nothing to do.
WideString FailureText(const BatchJob& job, bool isAdmin) {
    if (job.done - job.skipped == 0) return WideString(text::kNothingToDo);
    const FailureWording wording = {text::kFailed,   text::kFailed,       text::kFolderMissing, text::kFileInUse,
                                    text::kDiskFull, text::kAccessDenied, text::kNotAPicture};
    return FailureLine(job.firstFailure, wording, isAdmin);
}

// The result line: the batch's own 1 counts as success only when files were written; a batch in which some items
// failed says how many files it wrote of how many items. Skipped items (windows without an icon) are neither.
WideString ResultText(DWORD exitCode, const BatchJob& job, bool isAdmin) {
    const int32_t written = job.written, done = job.done - job.skipped;
    if (exitCode != 1 || written == 0) return FailureText(job, isAdmin);
    if (written < done)
        return WideString::Concat(text::kPartlyDone, WideString::FromInt(written), text::kPartlyFiles,
                                  WideString::FromInt(done), text::kPartlyItems);
    return WideString(text::kSucceeded);
}

}  // namespace

BatchPage::BatchPage(Application& app) : app_(app), window_(app.mainWindow) {}

BatchPage::~BatchPage() {
    FinishJob(true);
}

void BatchPage::Build(int tabControl) {
    tabControl_ = tabControl;
    UiWindow& w = window_;
    firstControl_ = w.controlCount() + 1;
    HBITMAP radioOn = static_cast<HBITMAP>(app_.checkImages[Application::kRadioChecked].Get());
    HBITMAP radioOff = static_cast<HBITMAP>(app_.checkImages[Application::kRadioUnchecked].Get());
    auto title = [&w](const wchar_t* caption, int x, int y, int width, int height) {
        const int index = w.addLabel(caption, x, y, width, height);
        w.setFont(10, FW_NORMAL);
        w.setTextColor(index, kTitleColor);
    };
    auto kind = [&](const wchar_t* caption, int y) {
        const int index = w.addRadioButton(caption, radioOn, radioOff, 20, y, 600, kStateUnchecked);
        w.setFont(10, FW_NORMAL);
        return index;
    };

    title(text::kSourceTitle, 20, 5, 470, 22);
    title(text::kTargetTitle, 20, 150, 570, 22);
    title(text::kFormatsTitle, 20, 245, 470, 18);
    batchKindExtract = kind(text::kKindExtract, 35);
    batchKindConvert = kind(text::kKindConvert, 60);
    batchKindWindows = kind(text::kKindWindows, 85);
    w.addLabel(text::kSourceLabel, 20, 117, 50, 16);
    batchSource = w.addEdit(L"", 75, 115, 482, 20, kEditStyle, 0);
    w.setTip(batchSource, text::kSourceTip);
    w.setAccessibleName(batchSource, text::kSourceLabel);
    batchSourceBrowse = w.addButton(text::kBrowse, 562, 114, 60, 22);
    w.setTextColor(batchSourceBrowse, kTitleColor);
    w.setState(batchSourceBrowse, kStateDisable);
    batchTarget = w.addEdit(L"", 20, 180, 537, 20, kEditStyle, 0);
    w.setTip(batchTarget, text::kTargetTip);
    w.setAccessibleName(batchTarget, text::kTargetTitle);
    batchTargetBrowse = w.addButton(text::kBrowse, 562, 179, 60, 22);

    formats.Build(w, app_, text::kPngs);

    const int previousDefault = w.defaultButton;
    batchStart = w.addButton(text::kStart, 490, 400, 140, 32, WS_VISIBLE | BS_DEFPUSHBUTTON);
    w.setFont(12, 800);
    w.setIconFromResource(batchStart, app_.osVersion >= 5.9 ? -1 : 0, app_.instance);
    w.setTip(batchStart, text::kStartTip);
    batchStatus = w.addLabel(L"", 20, 405, 460, 20);
    w.setLiveRegion(batchStatus);
    if (previousDefault) w.setDefaultButton(previousDefault);

    ShowOptions(ReadFormatSet(SettingsFilePath(app_.programFolder).Text(), kBatchIconFormatsKey));
}

bool BatchPage::OnCommand(int control, int code) {
    if (control <= 0 || code != control) return false;
    if (control == batchKindExtract)
        OnKindExtract();
    else if (control == batchKindConvert)
        OnKindConvert();
    else if (control == batchKindWindows)
        OnKindWindows();
    else if (control == batchSourceBrowse)
        OnSourceBrowse();
    else if (control == batchTargetBrowse)
        OnTargetBrowse();
    else if (control == batchStart)
        OnStart();
    else if (formats.Contains(control))
        ClearStatus();  // an option the next batch uses: the last result no longer applies
    else
        return false;
    return true;
}

void BatchPage::OnKindExtract() {
    ChooseKind(batchKindExtract);
}

void BatchPage::OnKindConvert() {
    ChooseKind(batchKindConvert);
}

void BatchPage::OnKindWindows() {
    ChooseKind(batchKindWindows);
}

void BatchPage::ChooseKind(int32_t radio) {
    ClearStatus();
    const bool windows = radio == batchKindWindows;
    SetEnabled(batchSourceBrowse, !windows);
    if (radio == lastBatchKind) return;
    window_.sendMessage(batchSource, EM_SETREADONLY, windows ? TRUE : FALSE, 0);
    if (windows) {
        window_.setText(batchSource, text::kAllWindows);
        SetEnabled(batchSource, false);
    } else {
        WideString chosen;
        const bool ok = radio == batchKindExtract ? OpenFileDialog(chosen, kResourceFileDialog, nullptr, window_.window)
                                                  : BrowseForFolder(chosen, kPictureFolderDialog, window_.window);
        window_.setText(batchSource, ok ? chosen.Text() : L"");
        SetEnabled(batchSource, true);
    }
    lastBatchKind = radio;
}

void BatchPage::OnSourceBrowse() {
    ClearStatus();
    WideString chosen;
    bool ok = false;
    if (IsChecked(batchKindExtract))
        ok = OpenFileDialog(chosen, kResourceFileBrowseDialog, nullptr, window_.window);
    else if (IsChecked(batchKindConvert))
        ok = BrowseForFolder(chosen, kPictureFolderDialog, window_.window);
    if (ok) window_.setText(batchSource, chosen.Text());
}

void BatchPage::OnTargetBrowse() {
    ClearStatus();
    WideString chosen;
    if (BrowseForFolder(chosen, kOutputFolderDialog, window_.window)) window_.setText(batchTarget, chosen.Text());
}

void BatchPage::OnFilesDropped(int targetControl, const WideString& dropped) {
    WideString path(dropped);
    if (path.IsEmpty()) return;
    if (targetControl == batchTarget) {
        if (IsRealFolder(path.Text(), true)) window_.setText(batchTarget, path.Text());
        return;
    }
    // Only the radio changes: the source field and the browse button keep the states of the last kind click.
    if (IsRealFolder(path.Text(), true)) {
        window_.setState(batchKindConvert, kStateChecked);
        window_.setText(batchSource, path.Text());
        return;
    }
    if (path.EndsWith(L".lnk")) {
        ShortcutReader shortcut;
        if (!shortcut.Open(path.Text())) return;
        path = shortcut.TargetPath();
        path.ExpandEnvironment();
    }
    if (!IsResourceFileName(path)) return;
    window_.setState(batchKindExtract, kStateChecked);
    window_.setText(batchSource, path.Text());
}

std::unique_ptr<BatchJob> BatchPage::ReadJob() {
    auto job = std::make_unique<BatchJob>();
    job->owner = &app_;
    const bool windows = IsChecked(batchKindWindows);
    const bool convert = IsChecked(batchKindConvert);
    job->source = window_.getText(batchSource);
    if (!windows) app_.MapSystemFolders(job->source);
    if (job->source.IsEmpty() || (convert && !IsRealFolder(job->source.Text()))) {
        SetStatus(text::kInvalidSource);
        return nullptr;
    }
    job->targetFolder = window_.getText(batchTarget);
    app_.MapSystemFolders(job->targetFolder);
    if (job->targetFolder.IsEmpty() || !CreateFolderTree(job->targetFolder.Text())) {
        SetStatus(text::kInvalidTarget);
        return nullptr;
    }
    const IconFormatSet set = ReadOptions();
    if (!set.AnySize()) {
        SetStatus(text::kNoFormat);
        return nullptr;
    }
    WriteFormatSet(SettingsFilePath(app_.programFolder).Text(), kBatchIconFormatsKey, set);
    const IconJobInputs inputs = FormatSetToJob(set);
    job->sizes = inputs.sizes;
    job->flags = inputs.flags | (windows ? kFromWindow : convert ? 0 : kFromResource);
    return job;
}

void BatchPage::OnStart() {
    if (runningJob_) return;
    const bool windows = IsChecked(batchKindWindows);
    const bool convert = IsChecked(batchKindConvert);
    std::unique_ptr<BatchJob> job = ReadJob();
    if (!job) return;
    SetStatus(text::kCreating);
    tabFreeze_.freeze(&window_, tabControl_, tabControl_);
    inputFreeze_.freeze(&window_, firstControl_, batchStart);
    const LPTHREAD_START_ROUTINE entry = windows   ? BatchSaveWindowIconsThread
                                         : convert ? BatchConvertPicturesThread
                                                   : BatchExtractIconsThread;
    BatchJob* handedOver = job.get();
    if (!worker_.Start([entry, handedOver] { return entry(handedOver); }, window_.window)) {
        inputFreeze_.unfreeze();
        tabFreeze_.unfreeze();
        SetStatus(text::kFailed);
        return;
    }
    job_ = std::move(job);
    runningJob_ = job_.get();
    shownProgress_ = -1;
    cancelled_ = false;
    ticks_ = SetTimer(nullptr, 0, kProgressIntervalMs, nullptr);
}

void BatchPage::CollectJob() {
    if (!runningJob_) return;
    if (worker_.Finished())
        EndJob();
    else
        ShowProgress();
}

bool BatchPage::CancelOnClose() {
    if (!runningJob_ || cancelled_ || worker_.Finished()) return false;
    job_->cancel = true;
    cancelled_ = true;
    return true;
}

void BatchPage::FinishJob(bool cancel) {
    if (!runningJob_) return;
    if (cancel && !worker_.Finished()) {
        job_->cancel = true;
        cancelled_ = true;
    }
    EndJob();
}

void BatchPage::EndJob() {
    const DWORD result = worker_.Collect();
    if (ticks_) KillTimer(nullptr, ticks_);
    ticks_ = 0;
    SetStatus(cancelled_ ? text::kCancelled : ResultText(result, *job_, app_.isAdmin).Text());
    inputFreeze_.unfreeze();
    tabFreeze_.unfreeze();
    runningJob_ = nullptr;
    job_.reset();
}

void BatchPage::ShowProgress() {
    const int32_t done = job_->done, total = job_->total;
    if (done == 0 && total == 0) return;
    const int64_t now = (static_cast<int64_t>(total) << 32) | static_cast<uint32_t>(done);
    if (now == shownProgress_) return;
    shownProgress_ = now;
    WideString line = WideString::Concat(text::kCreating, text::kProgressDone, WideString::FromInt(done));
    if (total > 0) line.Append(L"/", WideString::FromInt(total));
    SetStatus(line.Text());
}

void BatchPage::ClearStatus() {
    SetStatus(L"");
}

IconFormatSet BatchPage::ReadOptions() {
    return formats.Read(window_);
}

void BatchPage::ShowOptions(const IconFormatSet& set) {
    formats.Show(window_, set);
}

bool BatchPage::IsChecked(int index) {
    return index > 0 && window_.getState(index, kStateChecked) != 0;
}

void BatchPage::SetEnabled(int index, bool enabled) {
    const bool now = window_.getState(index, kStateEnable | kStateDisable) == kStateEnable;
    if (now != enabled) window_.setState(index, enabled ? kStateEnable : kStateDisable);
}

void BatchPage::SetStatus(const wchar_t* line) {
    window_.setText(batchStatus, line);
}
