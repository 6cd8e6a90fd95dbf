#include "app/SingleIconPage.h"

#include <oleacc.h>
#include <shlwapi.h>

#include <atomic>
#include <cwchar>
#include <utility>

#include "app/Application.h"
#include "app/FailureText.h"
#include "app/PageStyle.h"
#include "app/WindowPicker.h"
#include "engine/IconLibrary.h"
#include "engine/BatchOperations.h"
#include "engine/IconJob.h"
#include "engine/IconSources.h"
#include "engine/IconWriter.h"
#include "engine/OutputNaming.h"
#include "engine/WindowIcons.h"
#include "engine/WindowQueries.h"
#include "sys/Dialogs.h"
#include "sys/DynamicCalls.h"
#include "sys/FileOperations.h"
#include "ui/ToolkitImages.h"
#include "ui/UiWindow.h"

namespace {

// Every text the page shows, in one place.
namespace text {
constexpr const wchar_t* kSourceTitle = L"选择一个源或拖放文件/文件夹到这里";
constexpr const wchar_t* kTargetTitle = L"选择目标图标/PNG 文件";
constexpr const wchar_t* kFormatsTitle = L"图像格式和选项";
constexpr const wchar_t* kKindFile = L" 任何文件或文件夹";
constexpr const wchar_t* kKindFileTip = L"将图片转换为图标或提取与文件或文件夹关联的图标";
constexpr const wchar_t* kKindResource = L" 二进制文件资源";
constexpr const wchar_t* kKindResourceTip = L"从二进制文件资源中提取图标";
constexpr const wchar_t* kKindWindow = L" 应用窗口:";
constexpr const wchar_t* kKindWindowTip = L"检索与程序窗口关联的图标";
constexpr const wchar_t* kPickerTip = L"将此窗口选择器拖动到所需的程序";
constexpr const wchar_t* kPreview128 = L"预览 128x128 像素:";
constexpr const wchar_t* kSourceTip = L"您可以在此字段上删除所需的源文件";
constexpr const wchar_t* kBrowse = L"浏览";
constexpr const wchar_t* kIndexLabel = L"图标索引 (从资源中提取):";
constexpr const wchar_t* kPreview32 = L"预览 32x32px:";
constexpr const wchar_t* kPreviewTip = L"预览选择源的图标\r\n点击更新预览图像";
constexpr const wchar_t* kTargetTip = L"您可以在此字段上删除所需的目标文件";
constexpr const wchar_t* kPngs = L"另存为 PNG 而不是 ICO. 将使用下面选择的最大图像格式.";
constexpr const wchar_t* kConvert = L"转换";
constexpr const wchar_t* kExtract = L"提取";
constexpr const wchar_t* kCreateTip = L"立即创建图标";

constexpr const wchar_t* kDragPicker = L"将窗口选取器拖动到所需的程序.";
constexpr const wchar_t* kSourceNotSet = L"源位置未设置.";
constexpr const wchar_t* kSourceInvalid = L"源位置无效.";
constexpr const wchar_t* kSourceWindowGone = L"源窗口不存在.";
constexpr const wchar_t* kSourceFileMissing = L"源文件不存在.";
constexpr const wchar_t* kTargetEmpty = L"目标图标文件字段为空.";
constexpr const wchar_t* kNoFormat = L"未选择图像格式.";
constexpr const wchar_t* kExtracting = L"正在提取...";
constexpr const wchar_t* kConverting = L"正在转换...";
constexpr const wchar_t* kWindowDone = L"窗口图标已成功导出.";
constexpr const wchar_t* kResourceDone = L"已成功提取选择的图标.";
constexpr const wchar_t* kFileDone = L"选择的文件已成功转换.";
constexpr const wchar_t* kTargetNameless = L"目标是一个文件夹, 请在其后输入文件名.";
constexpr const wchar_t* kWindowIconUnreadable = L"无法读取此窗口的图标 (它属于另一个程序, 或没有图标).";

// A failed job: what failed, then why when that is known. Only a refused access may be a matter of rights.
constexpr const wchar_t* kWindowFailedBecause = L"无法导出图标: ";
constexpr const wchar_t* kResourceFailedBecause = L"无法提取图标: ";
constexpr const wchar_t* kFileFailedBecause = L"无法转换此文件: ";
constexpr const wchar_t* kFolderMissing = L"目标文件夹不存在.";
constexpr const wchar_t* kFileInUse = L"目标文件正被其他程序使用.";
constexpr const wchar_t* kDiskFull = L"磁盘空间不足.";
constexpr const wchar_t* kAccessDenied = L"拒绝访问目标位置.";
constexpr const wchar_t* kNotAPicture = L"源文件不是可读取的图片, 或已损坏.";
constexpr const wchar_t* kNoSuchIcon = L"源文件中没有可读取的该图标.";
constexpr const wchar_t* kNoWindowIcon = L"无法读取此窗口的图标.";
}  // namespace text

// WS_VISIBLE | WS_BORDER | SS_NOTIFY | SS_CENTERIMAGE: an empty bordered frame that centres its picture.
constexpr int32_t kPreviewStyle = 0x10800300;
constexpr int32_t kCentredLabelStyle = WS_VISIBLE | SS_NOTIFY | SS_CENTER;
// A picker text is the marker, "0x" and the handle's digits.
constexpr int kPickerHandleOffset = kPickerMarkerLength + 2;

// The source's own name, also of a folder given with a trailing backslash.
WideString SourceFileName(const WideString& source) {
    WideString path(source);
    path.StripTrailingBackslashes();
    return path.FileName();
}

constexpr int kSmallPreview = 32;
constexpr int kLargePreview = 128;

}  // namespace

// One icon to make on the worker, with everything it needs copied from the page.
struct SingleIconJob {
    IconRequest request;
    bool isAdmin = false;
};

// One preview of a file source, made on a worker thread. The worker owns it until it sets done; the page reads the
// images only after that.
struct PreviewRequest {
    const Application* app = nullptr;
    HWND notify = nullptr;  // woken by an empty message when done
    uint32_t generation = 0;
    WideString source;  // mapped
    int32_t index = 0;
    IconJobFlags flags = 0;
    bool fileKind = false;
    WorkingImage small;
    WorkingImage large;
    std::atomic<bool> done{false};
};

namespace {

void MakePreview(PreviewRequest& request) {
    if (request.fileKind) {
        const IconSource file(request.source);
        // One decode, at the reduced scale the larger preview needs, serves both sizes.
        DecodedPicture picture(SizeList{kSmallPreview, kLargePreview}, request.flags);
        request.small = LoadIconImage(file, kSmallPreview, request.flags, request.source, request.index, &picture);
        if (request.small) {
            request.large = LoadIconImage(file, kLargePreview, request.flags, request.source, request.index, &picture);
            return;
        }
    }
    WideString resolved(request.source);
    int32_t resolvedIndex = request.index;
    ResolveIconSource(resolved, resolvedIndex);
    request.app->MapSystemFolders(resolved);
    const IconSource file(resolved);
    const IconJobFlags flags = request.flags | kFromResource;
    request.small = LoadIconImage(file, kSmallPreview, flags, request.source, resolvedIndex);
    request.large = LoadIconImage(file, kLargePreview, flags, request.source, resolvedIndex);
}

DWORD WINAPI PreviewThread(void* parameter) {
    auto* request = static_cast<PreviewRequest*>(parameter);
    try {
        // The shell's icon lookup needs COM on this thread.
        const ComScope com;
        MakePreview(*request);
    } catch (...) {
        request->small = WorkingImage();
        request->large = WorkingImage();
    }
    request->done = true;
    PostMessageW(request->notify, WM_NULL, 0, 0);
    return 0;
}

// Makes the icon on the worker; the result is the status line: done, or what failed (ending in ": ") and why.
WideString MakeSingleIcon(const SingleIconJob& work) {
    static const wchar_t* const kFailed[] = {text::kFileFailedBecause, text::kResourceFailedBecause,
                                             text::kWindowFailedBecause};
    static const wchar_t* const kNoImage[] = {text::kNotAPicture, text::kNoSuchIcon, text::kNoWindowIcon};
    static const wchar_t* const kDone[] = {text::kFileDone, text::kResourceDone, text::kWindowDone};
    const size_t kind = static_cast<size_t>(work.request.kind);
    const IconJobResult done = RunIconJob(work.request);
    if (done.result) return WideString(kDone[kind]);
    // Nothing tells why: the plain failure, "无法转换此文件: " becoming "无法转换此文件.".
    WideString plain(kFailed[kind]);
    plain.DropRight(2).Append(L".");
    const FailureWording wording = {kFailed[kind],   plain.Text(),        text::kFolderMissing, text::kFileInUse,
                                    text::kDiskFull, text::kAccessDenied, kNoImage[kind]};
    return FailureLine(done.result.Cause(), wording, work.isAdmin);
}

}  // namespace

SingleIconPage::SingleIconPage(Application& app) : app_(app), window_(app.mainWindow) {}

SingleIconPage::~SingleIconPage() {
    FinishJob();
    if (previewThread_) WaitForSingleObject(previewThread_.Get(), INFINITE);
}

void SingleIconPage::BuildControls() {
    UiWindow& w = window_;
    firstControl_ = w.controlCount() + 1;
    const HBITMAP radioOn = static_cast<HBITMAP>(app_.checkImages[Application::kRadioChecked].Get());
    const HBITMAP radioOff = static_cast<HBITMAP>(app_.checkImages[Application::kRadioUnchecked].Get());
    auto title = [&w](const wchar_t* caption, int y, int height) {
        w.addLabel(caption, 20, y, 470, height);
        w.setTextColor(-1, kTitleColor);
        w.setFont(10, 400);
    };

    title(text::kSourceTitle, 5, 22);
    title(text::kTargetTitle, 150, 22);
    title(text::kFormatsTitle, 245, 18);

    w.flags |= kWindowGroupNext;
    kindFile = w.addRadioButton(text::kKindFile, radioOn, radioOff, 20, 35, 120, kStateUnchecked);
    w.setTip(kindFile, text::kKindFileTip);
    kindResource = w.addRadioButton(text::kKindResource, radioOn, radioOff, 155, 35, 130, kStateUnchecked);
    w.setTip(kindResource, text::kKindResourceTip);
    kindWindow = w.addRadioButton(text::kKindWindow, radioOn, radioOff, 310, 35, 140, kStateUnchecked);
    w.setTip(kindWindow, text::kKindWindowTip);
    picker = w.addIconFromResource(app_.instance, 110, 450, 31, 24, 24);
    w.setTip(picker, text::kPickerTip);
    w.setAccessibleName(picker, text::kPickerTip);
    w.setAccessibleRole(picker, ROLE_SYSTEM_PUSHBUTTON);
    preview128Label = w.addLabel(text::kPreview128, 495, 5, 130, 18, kCentredLabelStyle);

    sourceField = w.addEdit(L"", 20, 70, 400, 20, kEditStyle);
    w.setTip(sourceField, text::kSourceTip);
    w.setAccessibleName(sourceField, text::kSourceTitle);
    sourceBrowse = w.addButton(text::kBrowse, 423, 69, 57, 22);
    w.addLabel(text::kIndexLabel, 20, 110, 220, 20);
    indexField = w.addEdit(L"0", 230, 107, 50, 20, kEditStyle);
    w.setAccessibleName(indexField, text::kIndexLabel);
    w.addUpDown(indexField);
    preview32Label = w.addLabel(text::kPreview32, 340, 110, 105, 20);
    preview32 = w.addPicture(nullptr, 446, 103, 34, 34, kPreviewStyle);
    w.setTip(preview32, text::kPreviewTip);
    preview128 = w.addPicture(nullptr, 495, 25, 130, 130, kPreviewStyle);
    w.setTip(preview128, text::kPreviewTip);
    for (const auto& [preview, name] :
         {std::pair{preview32, text::kPreview32}, std::pair{preview128, text::kPreview128}}) {
        w.setAccessibleName(preview, name);
        w.setAccessibleRole(preview, ROLE_SYSTEM_GRAPHIC);
    }

    targetField = w.addEdit(L"", 20, 180, 537, 20, kEditStyle);
    w.setTip(targetField, text::kTargetTip);
    w.setAccessibleName(targetField, text::kTargetTitle);
    targetBrowse = w.addButton(text::kBrowse, 562, 179, 60, 22);
    formats.Build(w, app_, text::kPngs);

    createButton = w.addButton(text::kConvert, 490, 400, 140, 32, WS_VISIBLE | BS_DEFPUSHBUTTON);
    w.setFont(12, 800);
    w.setTip(createButton, text::kCreateTip);
    w.setIconFromResource(createButton, app_.osVersion >= 5.9 ? -1 : 0, app_.instance);
    w.setDefaultButton(createButton);
    singleStatus = w.addLabel(L"", 20, 405, 460, 20);
    w.setLiveRegion(singleStatus);
}

void SingleIconPage::Build(int tabControl, int commandResult, const WideString& source) {
    UiWindow& w = window_;
    tabControl_ = tabControl;
    BuildControls();
    ShowOptions(ReadFormatSet(SettingsFilePath(app_.programFolder).Text(), kSingleIconFormatsKey));

    // The start-up preload: a lone resource file starts in resource mode, any other lone path in file mode.
    const bool resource = commandResult == 4;
    SetChecked(resource ? kindResource : kindFile, true);
    w.setState(indexField, resource ? kStateEnable : kStateDisable);
    w.setText(createButton, resource ? text::kExtract : text::kConvert);
    if (commandResult == 3 || commandResult == 4) {
        w.setText(sourceField, source.Text());
        if (resource) w.setText(indexField, L"0");
        WideString target(source);
        EnsureOutputExtension(target, 0);
        w.setText(targetField, target.Text());
        UpdatePreview();
    }
}

bool SingleIconPage::OnCommand(int control, int code) {
    if (control <= 0) return false;
    if (code == kEventEditChange) {
        if (control != indexField && control != sourceField) return false;
        UpdatePreview();
        return true;
    }
    if (code != control) return false;
    if (control == kindFile)
        OnKindFile();
    else if (control == kindResource)
        OnKindResource();
    else if (control == kindWindow)
        OnKindWindow();
    else if (control == picker)
        OnPickWindow();
    else if (control == sourceBrowse)
        OnSourceBrowse();
    else if (control == targetBrowse)
        OnTargetBrowse();
    else if (control == createButton)
        OnCreate();
    else if (control == formats.pngs)
        OnPngsToggled();
    else if (control == preview32 || control == preview128 || formats.IsFitRadio(control))
        UpdatePreview();
    else if (formats.IsSizeOrOption(control))
        ClearStatus();
    else
        return false;
    return true;
}

bool SingleIconPage::IsChecked(int index) {
    return window_.getState(index, kStateChecked) != 0;
}

void SingleIconPage::SetChecked(int index, bool checked) {
    window_.setState(index, checked ? kStateChecked : kStateUnchecked);
}

void SingleIconPage::SetStatus(const wchar_t* status) {
    window_.setText(singleStatus, status);
}

void SingleIconPage::ClearStatus() {
    SetStatus(L"");
}

IconFormatSet SingleIconPage::ReadOptions() {
    return formats.Read(window_);
}

void SingleIconPage::ShowOptions(const IconFormatSet& set) {
    formats.Show(window_, set);
}

void SingleIconPage::SetKind(Kind kind) {
    UiWindow& w = window_;
    w.setState(indexField, kind == Kind::kResource ? kStateEnable : kStateDisable);
    w.setState(sourceBrowse, kind == Kind::kWindow ? kStateDisable : kStateEnable);
    w.sendMessage(sourceField, EM_SETREADONLY, kind == Kind::kWindow ? TRUE : FALSE, 0);
    w.setText(createButton, kind == Kind::kFile ? text::kConvert : text::kExtract);
    SetStatus(kind == Kind::kWindow ? text::kDragPicker : L"");
    ClearPreview();
}

void SingleIconPage::OnKindFile() {
    SetKind(Kind::kFile);
}

void SingleIconPage::OnKindResource() {
    SetKind(Kind::kResource);
}

void SingleIconPage::OnKindWindow() {
    SetKind(Kind::kWindow);
}

void SingleIconPage::OnPickWindow() {
    SetChecked(kindFile, false);
    SetChecked(kindResource, false);
    SetChecked(kindWindow, true);
    SetKind(Kind::kWindow);
    // The kind just chosen shows before the drag takes the mouse.
    UpdateWindow(window_.window);
    HWND pointed = nullptr;
    PickWindow(window_, picker, sourceField, {}, &pointed);
    pickedWindow_ = window_.getText(sourceField).IsEmpty() ? nullptr : pointed;
    UpdatePreview();
    // A window was chosen but gave no icon (under Wine every other process's window): say so, not just nothing.
    if (pointed && window_.getText(sourceField).IsEmpty()) SetStatus(text::kWindowIconUnreadable);
}

WideString SingleIconPage::WithOutputExtension(const WideString& path) {
    WideString result(path);
    EnsureOutputExtension(result, IsChecked(formats.pngs) ? kPngs : 0);
    return result;
}

void SingleIconPage::OnPngsToggled() {
    ClearStatus();
    WideString target(window_.getText(targetField));
    if (target.IsEmpty()) return;
    window_.setText(targetField, WithOutputExtension(target).Text());
}

void SingleIconPage::OnFilesDropped(int targetControl, const WideString& path) {
    if (path.IsEmpty()) return;
    UiWindow& w = window_;
    if (targetControl == targetField) {
        w.setText(targetField, WithOutputExtension(path).Text());
        ClearStatus();
        UpdatePreview();
        return;
    }
    w.setText(sourceField, path.Text());
    pickedWindow_ = nullptr;
    const bool resource = IsResourceFileName(path);
    w.setState(indexField, resource ? kStateEnable : kStateDisable);
    SetChecked(resource ? kindResource : kindFile, true);
    w.setText(createButton, resource ? text::kExtract : text::kConvert);
    w.setText(indexField, L"0");
    w.sendMessage(sourceField, EM_SETREADONLY, FALSE, 0);
    // A drop after window picking leaves the window kind, so browsing for a file is possible again.
    w.setState(sourceBrowse, kStateEnable);
    w.setText(targetField, WithOutputExtension(path).Text());
    ClearStatus();
    UpdatePreview();
}

int32_t SingleIconPage::IconIndex() {
    return window_.getText(indexField).ToInt();
}

void SingleIconPage::OnSourceBrowse() {
    UiWindow& w = window_;
    if (IsChecked(kindResource)) {
        WideString start(w.getText(sourceField));
        // A picked window's text is no file to start from.
        if (start.IsEmpty() || start.StartsWith(L"->", true)) {
            wchar_t system[MAX_PATH] = {};
            GetSystemDirectoryW(system, MAX_PATH);
            start = WideString::Concat(system, app_.osVersion >= 6.0 ? L"\\imageres.dll" : L"\\Shell32.dll");
        }
        // Without the system's icon picker the button does nothing.
        const auto pickIcon = Dynamic().pickIconDlg;
        if (pickIcon) {
            constexpr int kPathUnits = 1024;
            WideString path;
            wchar_t* buffer = path.Reserve(kPathUnits, true);
            if (buffer) {
                wcsncpy(buffer, start.Text(), kPathUnits - 1);
                int index = IconIndex();
                // 1 is OK; Wine 8's stub shows nothing and answers -1, which is no choice either.
                if (pickIcon(w.window, buffer, kPathUnits, &index) > 0) {
                    path.Remeasure();
                    path.ExpandEnvironment();
                    w.setText(sourceField, path.Text());
                    pickedWindow_ = nullptr;
                    w.setText(indexField, WideString::FromInt(index).Text());
                }
            }
        }
    } else {
        WideString chosen;
        if (OpenFileDialog(chosen, kPictureToConvertDialog, nullptr, w.window)) {
            w.setText(sourceField, chosen.Text());
            pickedWindow_ = nullptr;
        }
    }
    ClearStatus();
    UpdatePreview();
}

void SingleIconPage::OnTargetBrowse() {
    UiWindow& w = window_;
    WideString source(w.getText(sourceField));
    WideString proposed;
    if (IsChecked(kindWindow))
        proposed = source.DropLeft(kPickerHandleOffset);
    else
        proposed = source.FileTitle();
    WideString chosen;
    if (SaveFileDialog(chosen, IsChecked(formats.pngs) ? kPngOutputDialog : kIconOutputDialog, proposed.Text(),
                       w.window))
        w.setText(targetField, chosen.Text());
    ClearStatus();
    UpdatePreview();
}

void SingleIconPage::ClearPreview() {
    ++previewGeneration_;
    nextPreview_.reset();
    window_.setBitmap(preview32, 0, nullptr, 32, 32);
    window_.setBitmap(preview128, 0, nullptr, 128, 128);
}

void SingleIconPage::ShowPreviews(WorkingImage small, WorkingImage large) {
    auto show = [this](int index, const WorkingImage& image, int size) {
        GdiObjectHandle bitmap(image ? bitmapFromImage(image, size, size) : nullptr);
        window_.setBitmap(index, 0, static_cast<HBITMAP>(bitmap.Get()), size, size);
    };
    show(preview32, small, 32);
    show(preview128, large, 128);
}

bool SingleIconPage::PreviewPending() const {
    return runningPreview_ != nullptr;
}

void SingleIconPage::StartPreview(std::unique_ptr<PreviewRequest> request) {
    PreviewRequest* handedOver = request.get();
    runningPreview_ = std::move(request);
    previewThread_.Reset(CreateThread(nullptr, 0, PreviewThread, handedOver, 0, nullptr));
    if (!previewThread_) {
        // Without a worker the preview is made here, late rather than never.
        PreviewThread(handedOver);
    }
}

void SingleIconPage::CollectPreview() {
    if (!runningPreview_ || !runningPreview_->done.load()) return;
    // The worker has set done as its last use of the request; its end follows at once.
    if (previewThread_) WaitForSingleObject(previewThread_.Get(), INFINITE);
    previewThread_.Reset();
    std::unique_ptr<PreviewRequest> finished = std::move(runningPreview_);
    if (nextPreview_) return StartPreview(std::move(nextPreview_));
    if (finished->generation != previewGeneration_) return;
    ShowPreviews(std::move(finished->small), std::move(finished->large));
}

void SingleIconPage::FinishPreview() {
    if (!runningPreview_) return;
    if (previewThread_) WaitForSingleObject(previewThread_.Get(), INFINITE);
    CollectPreview();
    FinishPreview();
}

void SingleIconPage::ShowWindowPreview(const IconJobFlags flags) {
    if (!pickedWindow_ || !IsWindow(pickedWindow_)) return ClearPreview();
    HICON small = GetWindowIcon(pickedWindow_, kIconSmall);
    HICON large = GetWindowIcon(pickedWindow_, kIconBig);
    if (!small) small = large;
    if (!large) large = small;
    if (!small) return ClearPreview();
    const IconSource icons(small, large);
    WorkingImage image32 = LoadIconImage(icons, 32, flags | kFromWindow, WideString(), 0);
    WorkingImage image128 = LoadIconImage(icons, 128, flags | kFromWindow, WideString(), 0);
    ShowPreviews(std::move(image32), std::move(image128));
}

void SingleIconPage::UpdatePreview() {
    ++previewGeneration_;
    SingleIconForm form = ReadForm();
    if (form.source.IsEmpty()) return ClearPreview();
    const bool windowKind = form.kind == Kind::kWindow && !IsChecked(kindResource);
    if (windowKind) {
        if (!form.source.StartsWith(L"->", true)) return ClearPreview();
    } else {
        app_.MapSystemFolders(form.source);
        if (form.source.StartsWith(L"->", true) || !IsReadableSource(form.source)) return ClearPreview();
    }
    // The preview shows icons, whatever the page writes.
    const IconJobFlags flags = FormatSetToJob(form.formats).flags & ~kPngs;
    if (windowKind) return ShowWindowPreview(flags);

    auto request = std::make_unique<PreviewRequest>();
    request->app = &app_;
    request->notify = window_.window;
    request->generation = previewGeneration_;
    request->source = form.source;
    request->index = form.iconIndex;
    request->flags = flags;
    request->fileKind = IsChecked(kindFile);
    // The last request wins: one waiting behind the running worker replaces any that waited before it.
    if (runningPreview_)
        nextPreview_ = std::move(request);
    else
        StartPreview(std::move(request));
}

SingleIconPage::SingleIconForm SingleIconPage::ReadForm() {
    SingleIconForm form;
    form.kind = IsChecked(kindWindow) ? Kind::kWindow : IsChecked(kindResource) ? Kind::kResource : Kind::kFile;
    form.source = window_.getText(sourceField);
    form.iconIndex = IconIndex();
    form.target = window_.getText(targetField);
    form.formats = ReadOptions();
    return form;
}

const wchar_t* SingleIconPage::CheckForm(SingleIconForm& form) {
    if (form.source.IsEmpty()) return text::kSourceNotSet;
    if (form.kind == Kind::kWindow) {
        if (!form.source.StartsWith(kPickerMarker, true)) return text::kSourceInvalid;
        if (!pickedWindow_ || !IsWindow(pickedWindow_)) return text::kSourceWindowGone;
    } else {
        app_.MapSystemFolders(form.source);
        if (!FileExists(form.source.Text(), true)) return text::kSourceFileMissing;
        // A device (COM1, CON) answers to a file name, but a read may wait on it for ever.
        const wchar_t* path = form.source.Text();
        if (!IsRealFolder(path, true) && !IsDiskFile(path)) return text::kSourceInvalid;
    }
    if (form.target.IsEmpty()) return text::kTargetEmpty;
    app_.MapSystemFolders(form.target);
    if (!form.formats.AnySize()) return text::kNoFormat;
    return nullptr;
}

void SingleIconPage::OnCreate() {
    if (job_.Running()) return;
    SingleIconForm form = ReadForm();
    if (const wchar_t* refused = CheckForm(form)) return SetStatus(refused);
    // A negative index names no position: the first icon is taken and the field says so.
    const bool negativeIndex = form.kind == Kind::kResource && form.iconIndex < 0;
    if (negativeIndex) form.iconIndex = 0;
    const IconRequest request = JobRequest(form);
    if (IconJobOutput(request).IsEmpty()) return SetStatus(text::kTargetNameless);
    WriteFormatSet(SettingsFilePath(app_.programFolder).Text(), kSingleIconFormatsKey, form.formats);
    if (negativeIndex) window_.setText(indexField, L"0");
    // A preview still decoding may hold the source or the target open.
    FinishPreview();
    StartJob(request, form.kind == Kind::kFile);
}

IconRequest SingleIconPage::JobRequest(const SingleIconForm& form) const {
    const IconJobInputs job = FormatSetToJob(form.formats);
    IconRequest request;
    request.kind = form.kind == Kind::kWindow     ? IconSourceKind::kWindow
                   : form.kind == Kind::kResource ? IconSourceKind::kResource
                                                  : IconSourceKind::kFile;
    request.sourcePath = form.source;
    request.iconIndex = form.iconIndex;
    request.window = pickedWindow_;
    // A window's file takes its title; a file's the source's own name.
    request.sourceName = form.kind == Kind::kWindow
                             ? FileNamePartFromTitle(WideString(form.source).DropLeft(kPickerHandleOffset), -1)
                             : SourceFileName(form.source);
    request.sizes = job.sizes;
    request.flags = job.flags;
    request.target = form.target;
    return request;
}

void SingleIconPage::StartJob(const IconRequest& request, bool converts) {
    SingleIconJob work;
    work.request = request;
    work.isAdmin = app_.isAdmin;
    SetStatus(converts ? text::kConverting : text::kExtracting);
    tabFreeze_.freeze(&window_, tabControl_, tabControl_);
    inputFreeze_.freeze(&window_, firstControl_, createButton);
    // Without a worker the icon is made here, late rather than never.
    auto make = [this, work]() -> DWORD {
        jobOutcome_ = MakeSingleIcon(work);
        return 1;
    };
    if (!job_.Start(make, window_.window)) {
        jobOutcome_ = MakeSingleIcon(work);
        return EndJob();
    }
}

void SingleIconPage::CollectJob() {
    if (job_.Running() && job_.Finished()) FinishJob();
}

void SingleIconPage::FinishJob() {
    if (!job_.Running()) return;
    job_.Collect();
    EndJob();
}

void SingleIconPage::EndJob() {
    inputFreeze_.unfreeze();
    tabFreeze_.unfreeze();
    SetStatus(jobOutcome_.Text());
}
