#pragma once

#include <cstdint>
#include <vector>

#include "engine/FileStructure.h"
#include "sys/Result.h"
#include "sys/WideString.h"

// Icon groups read straight from a resource file's bytes behind the structure checks of IconGroupTable, so that the
// files the loader refuses (16-bit libraries, programs for another processor) are read as well.

// The .ico that holds the group at index (a position, or a negated group identifier) as the file ships it: every
// entry of the group in its order, each directory entry the group's own (size, colours, planes, bit count) with the
// image's length and offset, each image the icon resource byte for byte (a 16-bit file's block without the padding
// to its alignment unit). kNotAPicture, as for a group that gives no image, when the tree or the group is unsound
// or missing, or the file would be larger than any icon; ico is then left empty.
Result OriginalIconBytes(ByteSpan file, int32_t index, std::vector<uint8_t>& ico);

// The same for the file at path (kNoSource when it can't be read), which the caller makes reachable
// (ReachableFile) when it may be long.
Result ReadOriginalIcon(const WideString& path, int32_t index, std::vector<uint8_t>& ico);

// The icon groups of a PE or NE file at path; 0 when its tree is unsound or it is neither.
int32_t CountOriginalIconGroups(const WideString& path);
