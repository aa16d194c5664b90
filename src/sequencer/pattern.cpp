#include "sequencer/pattern.hpp"

#include <algorithm>
#include <string>

#include "common/errors.hpp"

namespace tamlor::sequencer {

Pattern::Pattern(std::uint64_t length) {
    if (length > steps_.max_size()) throw std::length_error("pattern length");
    steps_.resize(static_cast<std::size_t>(length));
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
