#pragma once

#include <windows.h>

#include <cstdint>

#include "engine/BatchJob.h"
#include "engine/IconJobFlags.h"
#include "sys/WideString.h"

// The three batch forms: each runs one single operation per item into the job's target folder, moving an
// existing output aside first and putting it back when the item fails. Each returns 0 at once for a missing job
// or owner, reads the job's cancel flag before every item and never stops at a failed item.

// Every icon group of the resource file job.source, by position, into target\<file name>_Icon_<n>.ico; files the
// resource loader refuses count the groups the shell's extractor finds. 1 when at least one file was written.
int BatchExtractIcons(BatchJob* job);

// Every plain file of the folder job.source whose extension names a picture type, in listing order, into
// target\<name with its extension replaced>. 1 when at least one picture was converted, else 0. Runs on one worker
// per processor; the files, backups and result are those of a run on one worker. job.item and job.output name the
// last listed item that ran once the batch is done.
int BatchConvertPictures(BatchJob* job);
// The same on up to `workers` threads (0: one per processor).
int BatchConvertPicturesOn(BatchJob* job, int workers);

// The icons of every top-level window, visible or not, into target\<n>-<title>.ico, where n is the window's
// position in the enumeration (windows without an icon leave a gap). 1 when at least one file was written.
int BatchSaveWindowIcons(BatchJob* job);

// Thread entries for a batch started on a worker thread; the parameter is the BatchJob and the exit code the
// batch's result. The caller keeps the job alive until the thread has ended.
DWORD WINAPI BatchExtractIconsThread(LPVOID job);
DWORD WINAPI BatchConvertPicturesThread(LPVOID job);
DWORD WINAPI BatchSaveWindowIconsThread(LPVOID job);

// Output paths of the three batches; the extension is ".png" with kPngs, else ".ico". The target folder is used
// as given (callers strip its trailing backslashes).
WideString ExtractOutputPath(const WideString& targetFolder, const WideString& resourceFile, int32_t n,
                             IconJobFlags flags);
WideString ConvertOutputPath(const WideString& targetFolder, const wchar_t* pictureName, IconJobFlags flags);
WideString WindowOutputPath(const WideString& targetFolder, int32_t n, const WideString& title, IconJobFlags flags);

// A window title made fit to be part of one file name: every character a file name can't hold (\ / : * ? " < > |
// and control characters) becomes "_", trailing dots and spaces are dropped, and the text is cut to maxUnits.
WideString FileNamePartFromTitle(const WideString& title, int maxUnits);

// True when the extension of a file name (from its last ".") names a picture type that the conversion takes.
// Compiles its pattern on every call; the batch itself compiles it once.
bool IsPictureFileName(const wchar_t* name);
