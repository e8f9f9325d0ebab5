#include "sleuth_kit_library.h"

#include <cstddef>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>

// Every block The Sleuth Kit allocates goes through tsk_malloc and
// tsk_realloc, and some are sized by a field of the image: an ext4 inode with
// inline data that claims 2 GB is given a zeroed 2 GB block. The program
// exports these two functions and the library calls them through its PLT,
// so they take the place of its own and refuse any block larger than one
// image's metadata can need; TSK then fails that record or folder, which is
// said, instead of touching gigabytes.
namespace {
constexpr std::size_t kMaxSleuthKitBlock = std::size_t{256} << 20;
} // namespace

extern "C" void* tsk_malloc(std::size_t length) {
    if (length > kMaxSleuthKitBlock)
        return nullptr;
    return std::calloc(1, length);
}

extern "C" void* tsk_realloc(void* block, std::size_t length) {
    if (length > kMaxSleuthKitBlock)
        return nullptr;
    return std::realloc(block, length);
}

namespace kestrel {

namespace {

SleuthKit g_sleuthKit;

template <typename Function>
bool Find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

std::string Load() {
    const char* path = std::getenv("KESTREL_TSK_LIBRARY");
    if (path == nullptr || *path == '\0')
        path = KESTREL_TSK_LIBRARY;
    // The library stays loaded until the process ends: the functions found
    // in it are kept for every later image.
    void* library = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return std::string("cannot be loaded: ") + ::dlerror();
    SleuthKit& tsk = g_sleuthKit;
    const bool found = Find(library, "tsk_error_reset", tsk.error_reset) &&
                       Find(library, "tsk_img_open_external", tsk.img_open_external) &&
                       Find(library, "tsk_img_read", tsk.img_read) &&
                       Find(library, "tsk_img_close", tsk.img_close) &&
                       Find(library, "tsk_vs_open", tsk.vs_open) &&
                       Find(library, "tsk_vs_part_get", tsk.vs_part_get) &&
                       Find(library, "tsk_vs_close", tsk.vs_close) &&
                       Find(library, "tsk_fs_open_img", tsk.fs_open_img) &&
                       Find(library, "tsk_fs_open_vol", tsk.fs_open_vol) &&
                       Find(library, "tsk_fs_close", tsk.fs_close) &&
                       Find(library, "tsk_fs_dir_getsize", tsk.fs_dir_getsize) &&
                       Find(library, "tsk_fs_dir_get", tsk.fs_dir_get) &&
                       Find(library, "tsk_fs_dir_get_name", tsk.fs_dir_get_name) &&
                       Find(library, "tsk_fs_dir_close", tsk.fs_dir_close) &&
                       Find(library, "tsk_fs_file_open_meta", tsk.fs_file_open_meta) &&
                       Find(library, "tsk_fs_file_attr_get", tsk.fs_file_attr_get) &&
                       Find(library, "tsk_fs_file_read", tsk.fs_file_read) &&
                       Find(library, "tsk_fs_file_close", tsk.fs_file_close);
    if (!found)
        return std::string("cannot be used: ") + ::dlerror();
    return "";
}

} // namespace

const std::string& LoadSleuthKit() {
    static std::once_flag once;
    static std::string error;
    std::call_once(once, [] { error = Load(); });
    return error;
}

bool SleuthKitAvailable() {
    return LoadSleuthKit().empty();
}

const SleuthKit& Tsk() {
    return g_sleuthKit;
}

} // namespace kestrel
