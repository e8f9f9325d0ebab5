#pragma once

#include <filesystem>

namespace kestrel::samples {

// One file for each way the scanner classifies a file.
void WriteClassificationSamples(const std::filesystem::path& directory);

} // namespace kestrel::samples
