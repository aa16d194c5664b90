#include "sequencer/pattern.hpp"

#include <algorithm>
#include <string>

#include "common/errors.hpp"

namespace tamlor::sequencer {

Pattern::Pattern(std::uint64_t length) {
    const auto too_long = [&] {
        return MemoryError("Pattern of " + std::to_string(length) + " steps does not fit in memory");
    };
    if (length > steps_.max_size()) throw too_long();
    try {
        steps_.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        throw too_long();
    }
}

bool Pattern::set_step(std::uint64_t index, const Step& step) {
    if (index >= steps_.size()) return false;
    steps_[index] = step;
    return true;
}

bool Pattern::toggle_step(std::uint64_t index) {
    if (index >= steps_.size()) return false;
    steps_[index].active = !steps_[index].active;
    return true;
}

const Step& Pattern::get_step(std::uint64_t index) const {
    if (index >= steps_.size()) {
        throw IndexError("Step index " + std::to_string(index) + " out of range (" +
                         std::to_string(steps_.size()) + ")");
    }
    return steps_[index];
}

void Pattern::clear() {
    for (Step& s : steps_) s.active = false;
}

std::uint64_t Pattern::active_count() const {
    return static_cast<std::uint64_t>(std::count_if(steps_.begin(), steps_.end(), [](const Step& s) { return s.active; }));
}

}  // namespace tamlor::sequencer
