#pragma once

#include <filesystem>

namespace kestrel::samples {

// One file for each way the scanner classifies a file.
void WriteClassificationSamples(const std::filesystem::path& directory);

// 32- and 64-bit Windows DLLs, 16-bit Windows and OS/2 programs, an OS/2 LX
// module and a Windows virtual device driver, with their version resources.
void WriteWindowsSamples(const std::filesystem::path& directory);

} // namespace kestrel::samples
