#pragma once

#include <filesystem>

namespace kestrel::samples {

// One file for each way the scanner classifies a file.
void WriteClassificationSamples(const std::filesystem::path& directory);

// NetWare modules, a container, a driver, and DOS programs and overlays with
// embedded markers or version-like text.
void WriteNetWareSamples(const std::filesystem::path& directory);

} // namespace kestrel::samples
