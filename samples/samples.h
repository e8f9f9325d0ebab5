#pragma once

#include <filesystem>

namespace kestrel::samples {

// Writes under `root` every sample file described in the JSON files of
// `descriptions` (samples/*.json): each built from its description, with the
// time of last change it names, so that reports of the samples never vary.
void WriteSamples(const std::filesystem::path& root,
                  const std::filesystem::path& descriptions = KESTREL_SAMPLE_DESCRIPTIONS);

} // namespace kestrel::samples
