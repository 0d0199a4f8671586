// User interface: the window model and what stands on it.
//
// Windows, dialogs, controls and message boxes are objects addressed by
// handles on a thread's message loop. The model never includes a renderer:
// a renderer (headless, terminal, desktop) is a Display loaded by name,
// told what changed and reading the state it shows, and every key it reads
// becomes one of the user-input calls that tests make too. Bitmaps are the
// subset of GDI the pages draw with. Control texts are UTF-8, counted in
// characters.
//
// Index: window.h (Window, handles, styles), dialog.h (templates, modeless
//        and modal dialogs, data exchange), controls.h (buttons, edits,
//        lists, combos, statics), message_box.h, bitmap.h (Bitmap, DC,
//        bit_blt, BMP files), display.h (the renderer seam, open_display),
//        user_input.h (keys and clicks as functions), utf8.h.
#pragma once

#include "platform/ui/bitmap.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/display.h"
#include "platform/ui/message_box.h"
#include "platform/ui/user_input.h"
#include "platform/ui/utf8.h"
#include "platform/ui/window.h"
