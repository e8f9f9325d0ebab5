// A packed DOS program as a container: its one member is the program as its
// loader unpacks it, named as the file.

#include <algorithm>
#include <vector>

#include "container_readers.h"
#include "packer.h"
#include "source_window.h"

namespace kestrel {

bool IsUnpackableProgram(ScanSource& program) {
    const std::optional<Packer> packer = RecognisePacker(program);
    return packer && CanUnpack(*packer);
}

bool ReadPackedProgram(ScanSource& program, MemberVisitor& visitor) {
    const std::optional<Packer> packer = RecognisePacker(program);
    if (!packer || !CanUnpack(*packer))
        return false;
    const Unpacked unpacked = UnpackProgram(program, *packer);
    if (!unpacked.problem.empty()) {
        visitor.Problem(packer->name + " program not unpacked: " + unpacked.problem);
        return true;
    }
    if (!visitor.Charge(std::ssize(unpacked.program)))
        return true;
    BytesSource member(unpacked.program);
    visitor.Visit(visitor.ContainerName(), visitor.ContainerTime(), member);
    return true;
}

} // namespace kestrel
