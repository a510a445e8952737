// Paths the system gives in wide characters, as the program's A calls can use them. A path may
// hold letters outside the ANSI code page (a Polish user name on a Western Windows): the A
// calls then see '?', or a look-alike letter that can name another file, so such paths are
// asked for with the wide calls and turned into their short (8.3) names, which are plain ASCII
// where the volume keeps short names.
#pragma once
#include <windows.h>

#include <cstddef>

// The same letters when the ANSI code page has all of them, else the path's short name. False
// when neither works: a best-fit conversion ("L" for "Ł") could name another file.
bool AnsiPath(const WCHAR* wide, char* out, size_t size);

// The user's temporary folder, ending in a backslash.
bool TemporaryFolder(char* out, size_t size);

// A file chosen in a save dialog, which may not exist yet: as AnsiPath, else its folder's short
// name followed by its own name (which must then be in the code page).
bool SavePathFromWide(const WCHAR* wide, char* out, size_t size);
