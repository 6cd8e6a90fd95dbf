#pragma once

#include <cstddef>

// The program's operator new keeps a few large freed blocks for the next allocation of about their size. The
// system heap gives every block of half a megabyte or more back to the system when it is freed, so each picture of
// a batch would otherwise fault in its planes page by page again (and each release stops the other worker's
// processor to flush its address translations).

// Bytes held in kept blocks now.
size_t KeptBlockBytes();
// Frees every kept block; an allocation that fails does this and tries once more.
void ReleaseKeptBlocks();
