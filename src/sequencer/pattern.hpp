// One cell of a step grid and a fixed-length row of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamlor::sequencer {

// Fields are ordered to pack into eight bytes; the default is the cell a new
// pattern is filled with.
struct Step {
    std::uint32_t duration_ticks = 1;  // note length in grid steps
    std::uint8_t note = 60;
    std::uint8_t velocity = 0;
    bool active = false;

    friend bool operator==(const Step&, const Step&) = default;
};

class Pattern {
public:
    // `length` default cells; a length too large to allocate throws
    // MemoryError "Pattern of N steps does not fit in memory".
    explicit Pattern(std::uint64_t length = 16);

    std::uint64_t length() const { return steps_.size(); }
    bool loop_enabled() const { return loop_enabled_; }
    void set_loop_enabled(bool enabled) { loop_enabled_ = enabled; }

    // False, changing nothing, when `index` is beyond the end.
    bool set_step(std::uint64_t index, const Step& step);
    bool toggle_step(std::uint64_t index);
    // Throws tamlor::IndexError "Step index {} out of range ({})".
    const Step& get_step(std::uint64_t index) const;
    const Step& operator[](std::size_t index) const { return steps_[index]; }
    // Switches every cell off, keeping notes, velocities and durations.
    void clear();
    std::uint64_t active_count() const;

private:
    std::vector<Step> steps_;
    bool loop_enabled_ = true;
};

}  // namespace tamlor::sequencer
