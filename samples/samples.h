#pragma once

#include <filesystem>

namespace kestrel::samples {

// The cases of the classification that no format reader covers: an "NWProc"
// program, a driver named .LAN, a plain DOS program, an executable with an
// unknown new header, an overlay by name and a text file.
void WriteClassificationSamples(const std::filesystem::path& directory);

// NetWare modules, a container, a driver, and DOS programs and overlays with
// embedded markers or version-like text.
void WriteNetWareSamples(const std::filesystem::path& directory);

// 32- and 64-bit Windows DLLs, 16-bit Windows and OS/2 programs, an OS/2 LX
// module and a Windows virtual device driver, with their version resources.
void WriteWindowsSamples(const std::filesystem::path& directory);

} // namespace kestrel::samples
