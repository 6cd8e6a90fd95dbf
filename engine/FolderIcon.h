#pragma once

#include <windows.h>

#include <cstdint>

#include "sys/WideString.h"

// Gives a folder its own icon the way the shell expects it: an icon file "Folder.ico" (16, 32, 48 and 256
// pixels) made from the source, "desktop.ini" pointing at it, and the folder marked as a system folder. An index
// below 0 converts the source as a picture or icon file; 0 or more takes that icon of a resource file.
// False when the icon could not be made or desktop.ini could not be read whole or written; the folder is then left
// as it was (its earlier Folder.ico, desktop.ini and system mark). A desktop.ini that is no text (binary data, NUL
// bytes) is kept byte for byte as "desktop (backup).ini" and a new one is written.
bool SetFolderIcon(const WideString& folder, const WideString& source, int32_t index);

// Saves the folder's ".ShellClassInfo" section as "Glyphwright.default" in its desktop.ini when the section names an
// icon other than the folder's own Folder.ico (a special folder's IconResource, another custom IconFile) and no
// copy exists yet. Called by SetFolderIcon before it sets the icon. False when a copy was needed but the section
// could not be read whole or written.
bool BackupDefaultIcon(const WideString& folder);

// Puts back the desktop.ini kept aside by SetFolderIcon, or else the saved ".ShellClassInfo" section; without
// either, removes what SetFolderIcon wrote and deletes desktop.ini only when nothing else is left in it.
// Folder.ico stays. False when desktop.ini could not be changed, so that the folder still has its icon.
bool ResetFolderIcon(const WideString& folder);

// Makes the shell show the folder's current icon: updates its shell item, announces the change and refreshes the
// open shell views.
void RefreshFolder(const WideString& folder);
