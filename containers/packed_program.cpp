// A packed DOS program as a container: its one member is the program as its
// loader unpacks it, named as the file.

#include <algorithm>
#include <vector>

#include "container_readers.h"
#include "packer.h"

namespace kestrel {

namespace {

class UnpackedSource : public ScanSource {
public:
    explicit UnpackedSource(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
    std::int64_t Length() const override { return std::ssize(m_bytes); }
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        if (offset < 0 || count < 0)
            return -1;
        const std::int64_t n = std::clamp<std::int64_t>(Length() - offset, 0, count);
        std::copy_n(m_bytes.begin() + offset, n, into);
        return n;
    }

private:
    const std::vector<std::uint8_t>& m_bytes;
};

} // namespace

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
    UnpackedSource member(unpacked.program);
    visitor.Visit(visitor.ContainerName(), visitor.ContainerTime(), member);
    return true;
}

} // namespace kestrel
