// Python classes of the step grid: Step, Pattern and StepSequencer.
#include <string>

#include "common/float_text.hpp"
#include "kit/kit.hpp"
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

const char* flag_text(bool b) { return b ? "true" : "false"; }

// ---------------------------------------------------------------------------
// Step

Params step_new_params{as_constructor, "Step", {"note", "velocity", "duration_ticks=1"}};

PyObject* step_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        Args a(step_new_params, args, kwargs);
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
std::uint32_t step_ticks(const Step& s) { return s.duration_ticks; }
void step_set_ticks(Step& s, std::uint32_t v) { s.duration_ticks = v; }
bool step_active(const Step& s) { return s.active; }
void step_set_active(Step& s, bool v) { s.active = v; }

std::string step_repr(const Step& s) {
    return "Step(note=" + std::to_string(s.note) + ", velocity=" + std::to_string(s.velocity) +
           ", duration_ticks=" + std::to_string(s.duration_ticks) + ", active=" + flag_text(s.active) + ")";
}

PyGetSetDef step_properties[] = {
    property("note", get<step_note>, set<step_set_note, "note">),
    property("velocity", get<step_velocity>, set<step_set_velocity, "velocity">),
    property("duration_ticks", get<step_ticks>, set<step_set_ticks, "ticks">),
    property("active", get<step_active>, set<step_set_active, "active">),
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
        Args a(pattern_new_params, args, kwargs);
        return create(type, Pattern(a.u64(0)));
    });
}

std::uint64_t pattern_length(const Pattern& p) { return p.length(); }
bool pattern_loop(const Pattern& p) { return p.loop_enabled(); }
void pattern_set_loop(Pattern& p, bool enabled) { p.set_loop_enabled(enabled); }
bool pattern_set_step(Pattern& p, std::uint64_t index, Step step) { return p.set_step(index, step); }
bool pattern_toggle_step(Pattern& p, std::uint64_t index) { return p.toggle_step(index); }
PyObject* pattern_get_step(const Pattern& p, std::uint64_t index) { return wrap(p.get_step(index)); }
void pattern_clear(Pattern& p) { p.clear(); }

std::string pattern_repr(const Pattern& p) {
    return "Pattern(length=" + std::to_string(p.length()) + ", active_steps=" + std::to_string(p.active_count()) +
           ", loop=" + flag_text(p.loop_enabled()) + ")";
}

PyGetSetDef pattern_properties[] = {
    property("length", get<pattern_length>),
    property("loop_enabled", get<pattern_loop>, set<pattern_set_loop, "enabled">),
    end_properties,
};

PyMethodDef pattern_methods[] = {
    def("set_step", method<pattern_set_step, set_step_params>, set_step_params),
    def("toggle_step", method<pattern_toggle_step, toggle_step_params>, toggle_step_params),
    def("get_step", method<pattern_get_step, get_step_params>, get_step_params),
    def("clear", noargs<pattern_clear>, "clear($self)\n--\n\n"),
    end_methods,
};

PyType_Slot pattern_slots[] = {
    slot(Py_tp_doc, pattern_new_params.doc()),
    slot(Py_tp_new, pattern_new),
    slot(Py_tp_dealloc, dealloc<Pattern>),
    slot(Py_tp_repr, repr<pattern_repr>),
    slot(Py_sq_length, length<pattern_length>),
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
        Args a(sequencer_new_params, args, kwargs);
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
    StepSequencer::Walk walk = s.walk(start, end);
    PyObject* list = build_list(walk.events.size(), [&](std::size_t i) {
        const StepEvent& e = walk.events[i];
        PyObject* kind = e.kind == StepEventKind::NoteOn ? note_on_text.get() : note_off_text.get();
        return tuple(kind, e.note, e.velocity, e.time);
    });
    s.commit(walk);
    return list;
}

double sequencer_step_duration(const StepSequencer& s) { return s.step_duration(); }
void sequencer_set_step_duration(StepSequencer& s, double sd) { s.set_step_duration(sd); }
std::uint64_t sequencer_current_step(const StepSequencer& s) { return s.current_step(); }
void sequencer_set_pattern(StepSequencer& s, Pattern p) { s.set_pattern(std::move(p)); }
void sequencer_reset(StepSequencer& s) { s.reset(); }

std::string sequencer_repr(const StepSequencer& s) {
    std::string out = "StepSequencer(step_duration=";
    text::append_fixed(out, s.step_duration(), 3);
    out += ", current_step=" + std::to_string(s.current_step()) + ")";
    return out;
}

PyGetSetDef sequencer_properties[] = {
    property("step_duration", get<sequencer_step_duration>, set<sequencer_set_step_duration, "dur">),
    property("current_step", get<sequencer_current_step>),
    end_properties,
};

PyMethodDef sequencer_methods[] = {
    def("set_pattern", method<sequencer_set_pattern, set_pattern_params>, set_pattern_params),
    def("reset", noargs<sequencer_reset>, "reset($self)\n--\n\n"),
    def("process_beat_range", method<sequencer_process, process_params>, process_params),
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
