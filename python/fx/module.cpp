// The effects module: multi-phase initialisation with one execution slot that
// adds the effect classes in registry order and lists them in __all__.
#include "fx/registry.hpp"
#include "kit/kit.hpp"
#include "kit/module.hpp"

namespace tamlor::py {
namespace {

const kit::ModuleClass registry[] = {
    {"Filter", fx_types::filter},
    {"Delay", fx_types::delay},
    {"Reverb", fx_types::reverb},
    {"Compressor", fx_types::compressor},
    {"Limiter", fx_types::limiter},
};

int exec_module(PyObject* module) {
    if (PyModule_AddFunctions(module, fx_types::functions()) < 0) return -1;
    return kit::add_classes(module, registry);
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "tamlor_fx",  // m_name
    "Effects for audio blocks: filter, delay, reverb, compressor and limiter.",
    0,        // m_size
    nullptr,  // m_methods
    slots,    // m_slots
    nullptr,  // m_traverse
    nullptr,  // m_clear
    nullptr,  // m_free
};

}  // namespace
}  // namespace tamlor::py

PyMODINIT_FUNC PyInit_tamlor_fx(void) { return PyModuleDef_Init(&tamlor::py::definition); }
