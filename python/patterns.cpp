// Python classes of the step grid: Step, Pattern and StepSequencer.
#include <string>

#include "common/float_text.hpp"
#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "kit/values.hpp"
#include "midi/values.hpp"
#include "registry.hpp"
#include "sequencer/pattern.hpp"
#include "sequencer/step_sequencer.hpp"

namespace tamlor::py {
namespace {

using namespace kit;
using sequencer::Pattern;
using sequencer::Step;
using sequencer::StepEvent;
using sequencer::StepEventKind;
using sequencer::StepSequencer;

// ---------------------------------------------------------------------------
// Step

Params step_new_params{as_constructor, "Step", {"note", "velocity", "duration_ticks=1"}};

PyObject* step_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(step_new_params, args, kwargs);
        const std::uint8_t note = a.u8(0);
        const std::uint8_t velocity = a.u8(1);
        const std::uint32_t ticks = a.u32(2);
        Step s;
        s.note = midi::check_note(note);
        s.velocity = midi::check_velocity(velocity);
        s.duration_ticks = ticks;
        s.active = true;
        return create(type, s);
    });
}

std::uint8_t step_note(const Step& s) { return s.note; }
void step_set_note(Step& s, std::uint8_t v) { s.note = midi::check_note(v); }
std::uint8_t step_velocity(const Step& s) { return s.velocity; }
void step_set_velocity(Step& s, std::uint8_t v) { s.velocity = midi::check_velocity(v); }

std::string step_repr(const Step& s) {
    return "Step(note=" + std::to_string(s.note) + ", velocity=" + std::to_string(s.velocity) +
           ", duration_ticks=" + std::to_string(s.duration_ticks) + ", active=" + text::bool_text(s.active) + ")";
}

Reduced step_reduce(const Step& s) {
    return {nullptr, Ref(tuple(s.note, s.velocity, s.duration_ticks)), Ref(tuple(s.active))};
}

void step_restore(Step& s, PyObject* state) {
    const StateTuple st("Step", state, 1);
    s.active = st.get<bool>(0, "active");
}

PyMethodDef step_methods[] = {
    def_reduce<step_reduce>(),
    def_setstate<step_restore>(),
    def_copy<Step>(),
    def_deepcopy<Step>(),
    end_methods,
};

PyGetSetDef step_properties[] = {
    property("note", get<step_note>, set<step_set_note, "note">),
    property("velocity", get<step_velocity>, set<step_set_velocity, "velocity">),
    property("duration_ticks", get<&Step::duration_ticks>, set<&Step::duration_ticks, "ticks">),
    property("active", get<&Step::active>, set<&Step::active, "active">),
    end_properties,
};

PyType_Slot step_slots[] = {
    slot(Py_tp_doc, step_new_params.doc()),
    slot(Py_tp_new, step_new),
    slot(Py_tp_dealloc, dealloc<Step>),
    slot(Py_tp_repr, repr<step_repr>),
    slot(Py_tp_richcompare, richcompare<Step>),
    slot(Py_tp_hash, PyObject_HashNotImplemented),
    slot(Py_tp_getset, step_properties),
    slot(Py_tp_methods, step_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// Pattern

Params pattern_new_params{as_constructor, "Pattern", {"length=16"}};
Params set_step_params{as_method, "set_step", {"index", "step"}};
Params toggle_step_params{as_method, "toggle_step", {"index"}};
Params get_step_params{as_method, "get_step", {"index"}};

PyObject* pattern_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(pattern_new_params, args, kwargs);
        return create(type, Pattern(a.u64(0)));
    });
}

PyObject* pattern_get_step(const Pattern& p, std::uint64_t index) { return wrap(p.get_step(index)); }

std::string pattern_repr(const Pattern& p) {
    return "Pattern(length=" + std::to_string(p.length()) + ", active_steps=" + std::to_string(p.active_count()) +
           ", loop=" + text::bool_text(p.loop_enabled()) + ")";
}

Reduced pattern_reduce(const Pattern& p) {
    Ref steps(build_list(p.length(), [&](std::size_t i) { return wrap(p[i]); }));
    return {nullptr, Ref(tuple(p.length())), Ref(tuple(p.loop_enabled(), steps.get()))};
}

// The state holds one Step per cell; the length is the constructor's.
void pattern_restore(Pattern& p, PyObject* state) {
    const StateTuple st("Pattern", state, 2);
    const bool loop = st.get<bool>(0, "loop_enabled");
    const Py_ssize_t n = sequence_length(st[1], "steps");
    if (static_cast<std::uint64_t>(n) != p.length()) {
        bad_state("Pattern", "expected " + std::to_string(p.length()) + " steps, got " + std::to_string(n));
    }
    Pattern restored(p.length());
    for_each_item(st[1], "steps", n, [&](Py_ssize_t i, PyObject* item) {
        restored.set_step(static_cast<std::uint64_t>(i), to_instance<Step>(item, "steps"));
    });
    restored.set_loop_enabled(loop);
    p = std::move(restored);
}

PyGetSetDef pattern_properties[] = {
    property("length", get<&Pattern::length>),
    property("loop_enabled", get<&Pattern::loop_enabled>, set<&Pattern::set_loop_enabled, "enabled">),
    end_properties,
};

PyMethodDef pattern_methods[] = {
    def("set_step", method<&Pattern::set_step, set_step_params>, set_step_params),
    def("toggle_step", method<&Pattern::toggle_step, toggle_step_params>, toggle_step_params),
    def("get_step", method<pattern_get_step, get_step_params>, get_step_params),
    def("clear", noargs<&Pattern::clear>, "clear($self)\n--\n\n"),
    def_reduce<pattern_reduce>(),
    def_setstate<pattern_restore>(),
    def_copy<Pattern>(),
    def_deepcopy<Pattern>(),
    end_methods,
};

PyType_Slot pattern_slots[] = {
    slot(Py_tp_doc, pattern_new_params.doc()),
    slot(Py_tp_new, pattern_new),
    slot(Py_tp_dealloc, dealloc<Pattern>),
    slot(Py_tp_repr, repr<pattern_repr>),
    slot(Py_sq_length, length<&Pattern::length>),
    slot(Py_tp_getset, pattern_properties),
    slot(Py_tp_methods, pattern_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// StepSequencer

Params sequencer_new_params{as_constructor, "StepSequencer", {"pattern", "channel=0"}};
Params set_pattern_params{as_method, "set_pattern", {"pattern"}};
Params process_params{as_method, "process_beat_range", {"start", "end"},
                      "Process a beat range and return MIDI events as dicts."};

PyObject* sequencer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(sequencer_new_params, args, kwargs);
        Pattern pattern = a.instance<Pattern>(0);
        const std::uint8_t channel = a.u8(1);
        return create(type, StepSequencer(std::move(pattern), midi::check_channel(channel)));
    });
}

Interned note_on_text{"note_on"};
Interned note_off_text{"note_off"};

// The walk's events as (kind, note, velocity, time) tuples. The sequencer's
// progress is committed only once the list exists, so a failure here (out of
// memory) leaves the sequencer as it was.
PyObject* sequencer_process(StepSequencer& s, double start, double end) {
    StepSequencer::Walk walk = s.walk(start, end, check_signals);
    PyObject* list = build_list(walk.events.size(), [&](std::size_t i) {
        const StepEvent& e = walk.events[i];
        PyObject* kind = e.kind == StepEventKind::NoteOn ? note_on_text.get() : note_off_text.get();
        return tuple(kind, e.note, e.velocity, e.time);
    });
    s.commit(walk);
    return list;
}


std::string sequencer_repr(const StepSequencer& s) {
    std::string out = "StepSequencer(step_duration=";
    text::append_fixed(out, s.step_duration(), 3);
    out += ", current_step=" + std::to_string(s.current_step()) + ")";
    return out;
}

PyGetSetDef sequencer_properties[] = {
    property("step_duration", get<&StepSequencer::step_duration>, set<&StepSequencer::set_step_duration, "dur">),
    property("current_step", get<&StepSequencer::current_step>),
    end_properties,
};

PyMethodDef sequencer_methods[] = {
    def("set_pattern", method<&StepSequencer::set_pattern, set_pattern_params>, set_pattern_params),
    def("reset", noargs<&StepSequencer::reset>, "reset($self)\n--\n\n"),
    def("process_beat_range", method<sequencer_process, process_params>, process_params),
    def_no_copy<StepSequencer, "their pattern copy, channel and place in the grid cannot be read back">(),
    end_methods,
};

PyType_Slot sequencer_slots[] = {
    slot(Py_tp_doc, sequencer_new_params.doc()),
    slot(Py_tp_new, sequencer_new),
    slot(Py_tp_dealloc, dealloc<StepSequencer>),
    slot(Py_tp_repr, repr<sequencer_repr>),
    slot(Py_tp_getset, sequencer_properties),
    slot(Py_tp_methods, sequencer_methods),
    end_slots,
};

}  // namespace

template <>
PyType_Spec kit::Class<Step>::spec = kit::spec<Step>("builtins.Step", step_slots);
template <>
PyType_Spec kit::Class<Pattern>::spec = kit::spec<Pattern>("builtins.Pattern", pattern_slots);
template <>
PyType_Spec kit::Class<StepSequencer>::spec = kit::spec<StepSequencer>("builtins.StepSequencer", sequencer_slots);

PyTypeObject* types::step() { return kit::Class<Step>::type(); }
PyTypeObject* types::pattern() { return kit::Class<Pattern>::type(); }
PyTypeObject* types::step_sequencer() { return kit::Class<StepSequencer>::type(); }

}  // namespace tamlor::py
