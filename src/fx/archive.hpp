// The state of an effect as bytes, for pickling: every class lists its
// fields once in visit(), and the same list writes and reads them. Values
// are stored in the machine's byte order. A reader checks every length and
// index against the object it fills (built first from the same constructor
// arguments), so malformed bytes raise ValueError and never reach memory
// outside the effect's own buffers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/errors.hpp"

namespace tamlor::fx {

class Writer {
public:
    template <class V>
        requires std::is_arithmetic_v<V>
    void operator()(const V& v) {
        put(&v, sizeof v);
    }
    template <class V>
    void operator()(const std::vector<V>& v) {
        const std::uint64_t n = v.size();
        put(&n, sizeof n);
        put(v.data(), v.size() * sizeof(V));
    }
    // An index into a buffer of `bound` items (checked only when reading).
    void index(const std::size_t& i, std::size_t) { (*this)(static_cast<std::uint64_t>(i)); }
    void fail() {}
    const std::string& bytes() const { return bytes_; }

private:
    void put(const void* p, std::size_t n) { bytes_.append(static_cast<const char*>(p), n); }
    std::string bytes_;
};

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    template <class V>
        requires std::is_arithmetic_v<V>
    void operator()(V& v) {
        take(&v, sizeof v);
        if constexpr (std::is_same_v<V, bool>) {
            unsigned char c;
            std::memcpy(&c, &v, 1);
            if (c > 1) fail();
        }
    }
    // A vector's length must be the one the object already has.
    template <class V>
    void operator()(std::vector<V>& v) {
        std::uint64_t n = 0;
        take(&n, sizeof n);
        if (n != v.size()) fail();
        take(v.data(), v.size() * sizeof(V));
    }
    void index(std::size_t& i, std::size_t bound) {
        std::uint64_t v = 0;
        take(&v, sizeof v);
        if (v >= bound) fail();
        i = static_cast<std::size_t>(v);
    }
    [[noreturn]] void fail() { throw ValueError("the saved state does not fit this effect"); }
    bool finished() const { return at_ == bytes_.size(); }

private:
    void take(void* p, std::size_t n) {
        if (n > bytes_.size() - at_) fail();
        if (n) std::memcpy(p, bytes_.data() + at_, n);
        at_ += n;
    }
    std::string_view bytes_;
    std::size_t at_ = 0;
};

// The state of `effect` as bytes.
template <class E>
std::string save_state(E& effect) {
    Writer w;
    effect.visit(w);
    return w.bytes();
}

// `effect` with its state read from `bytes`; unchanged when they do not fit.
template <class E>
void load_state(E& effect, std::string_view bytes) {
    E staged = effect;
    Reader r(bytes);
    staged.visit(r);
    if (!r.finished()) r.fail();
    effect = std::move(staged);
}

}  // namespace tamlor::fx
