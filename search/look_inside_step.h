#pragma once

#include <functional>
#include <string>
#include <vector>

#include "look_inside.h"
#include "walk.h"

namespace kestrel {

// What a walk that looks inside containers needs besides its own options.
struct LookInsideOptions {
    // The files reported, on disk (unless chosen by name) and inside; the walk
    // itself then hands on every file, so that each is tested for being a
    // container whatever its name.
    std::vector<std::string> patterns;
    ContainerLimits limits;
    // Before each member is scanned, with its whole path: the counter and the
    // status caption of a front end. May be left empty.
    std::function<void(const std::string& memberPath)> member;
};

// The step of such a walk: a file the patterns select gets its report first,
// then, when it is a container, its members follow under their own directory
// lines (written to the step's sink). What a container could not give is a
// problem named after the container.
ScanStep LookInsideStep(LookInsideOptions options);

} // namespace kestrel
