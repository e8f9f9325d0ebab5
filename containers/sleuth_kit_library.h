#pragma once

// The Sleuth Kit, loaded at the first disk image rather than when the program
// starts: it brings some thirty libraries with it (AFF's, curl's, GnuTLS's,
// Kerberos's), and loading them would cost every run, most of which open no
// disk image, more than its whole start otherwise takes.

#include <string>
#include <tsk/libtsk.h>

namespace kestrel {

// The functions of the library the disk image reader calls, by their names
// without "tsk_".
struct SleuthKit {
    decltype(&::tsk_error_reset) error_reset = nullptr;
    decltype(&::tsk_img_open_external) img_open_external = nullptr;
    decltype(&::tsk_img_read) img_read = nullptr;
    decltype(&::tsk_img_close) img_close = nullptr;
    decltype(&::tsk_vs_open) vs_open = nullptr;
    decltype(&::tsk_vs_part_get) vs_part_get = nullptr;
    decltype(&::tsk_vs_close) vs_close = nullptr;
    decltype(&::tsk_fs_open_img) fs_open_img = nullptr;
    decltype(&::tsk_fs_open_vol) fs_open_vol = nullptr;
    decltype(&::tsk_fs_close) fs_close = nullptr;
    decltype(&::tsk_fs_dir_getsize) fs_dir_getsize = nullptr;
    decltype(&::tsk_fs_dir_get) fs_dir_get = nullptr;
    decltype(&::tsk_fs_dir_get_name) fs_dir_get_name = nullptr;
    decltype(&::tsk_fs_dir_close) fs_dir_close = nullptr;
    decltype(&::tsk_fs_file_open_meta) fs_file_open_meta = nullptr;
    decltype(&::tsk_fs_file_attr_get) fs_file_attr_get = nullptr;
    decltype(&::tsk_fs_file_read) fs_file_read = nullptr;
    decltype(&::tsk_fs_file_close) fs_file_close = nullptr;
};

// Loads the library once, at the first call from any thread: "" when it can
// be used, else why not ("cannot be loaded: ..."). KESTREL_TSK_LIBRARY names
// another file than the one the program was built with.
const std::string& LoadSleuthKit();
bool SleuthKitAvailable();

// The loaded library's functions; only after LoadSleuthKit() said "".
const SleuthKit& Tsk();

} // namespace kestrel
