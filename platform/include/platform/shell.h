// Shell: what the Windows shell did for a program, done the freedesktop and
// pppd way.
//
// Programs start without a shell, as WinExec did. The program manager answers
// the DDE conversation and keeps groups and items as freedesktop menu
// entries; shortcuts are .desktop launchers, every value escaped so that a
// name can never add a key. Dial-up entries are pppd peers files and chat
// scripts, the password only in the secrets files. A telephony probe counts
// the modems behind the COM ports without opening one, and a per-user lock
// keeps a single running copy that a later start can bring to the front.
//
// Index: launcher.h, dde.h (atoms, global memory, conversations),
//        program_manager.h, desktop_entry.h, phonebook.h, telephony.h,
//        single_instance.h, xdg_places.h.
#pragma once

#include "platform/shell/dde.h"
#include "platform/shell/desktop_entry.h"
#include "platform/shell/launcher.h"
#include "platform/shell/phonebook.h"
#include "platform/shell/program_manager.h"
#include "platform/shell/single_instance.h"
#include "platform/shell/telephony.h"
#include "platform/shell/xdg_places.h"
