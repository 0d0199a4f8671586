// Storage: the system root, safe file writes, confinement, the registry.
//
// Every Windows location lives under one folder, the system root, and
// Windows paths are translated into it; none named from outside may
// resolve beyond it. Every configuration write replaces its file atomically
// under a lock beside it, so a crash or a second program never leaves a
// half-written file. A file named by the server is opened beneath its base
// folder and follows no symbolic link. The registry is one REGEDIT4 hive file
// per root key, written the same safe way. Names that Windows compares
// without case fold ASCII letters only.
//
// Index: system_root.h (KnownFolder, system_root, translate_path),
//        files.h (replace_file, FileLock), confined.h (open_beneath),
//        registry.h (Registry, keys and typed values), ascii.h (case folding).
#pragma once

#include "platform/storage/ascii.h"
#include "platform/storage/confined.h"
#include "platform/storage/files.h"
#include "platform/storage/registry.h"
#include "platform/storage/system_root.h"
