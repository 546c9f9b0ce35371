#pragma once

#include "module/frame/platform.h"

// Draws the bitmap file beside the host executable (its path with the last
// three characters made "bmp") stretched over the whole banner in `target`.
// FALSE when the file cannot be opened, mapped or drawn.
BOOL drawBannerFile(HDC target);
